#include "app/recoding.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <ctime>

#include "app/alarm.h"
#include "app/banner.h"
#include "app/desktop_notification.h"
#include "app/device_dialog.h"
#include "app/message_window.h"
#include "app/qt_capture.h"
#include "app/settings.h"
#include "stations/selection.h"
#include "app/widgets.h"
#include "app/window_fonts.h"
#include "decoder/code_table.h"
#include "decoder/cp932.h"
#include "decoder/text_output.h"
#include "display/displays.h"
#include "display/qt/qt_text_renderer.h"
#include "display/spectrum_display.h"

namespace brontel {

// The selection shared by the window (which changes it) and the receiver
// (which applies it to every message it completes).
struct TSharedSelection {
  TSharedSelection();
  std::mutex Lock;
  stations::TSelection Current;
};

namespace {

constexpr QRgb GlyphBackground = qRgb(0xD4, 0xD0, 0xC8);

QString Cp932ToQString(std::string_view text) { return QString::fromStdString(Cp932ToUtf8(text)); }

// The main window's text in the interface language.
QString Tr(const char* text) { return QCoreApplication::translate("TForm1", text); }

QToolButton* GlyphButton(QWidget* parent, const char* name, const TGlyph& glyph, int left)
{
  auto* button = new QToolButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(left, 157, 21, 21);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setIconSize(QSize(GlyphSize, GlyphSize));
  button->setIcon(QIcon(QPixmap::fromImage(GlyphImage(glyph))));
  return button;
}

}  // namespace

QImage GlyphImage(const TGlyph& glyph)
{
  QImage image(GlyphSize, GlyphSize, QImage::Format_ARGB32);
  for (int y = 0; y < GlyphSize; ++y)
    for (int x = 0; x < GlyphSize; ++x)
      image.setPixel(x, y, glyph[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] == '#'
                               ? qRgba(0, 0, 0, 255)
                               : (GlyphBackground & 0x00FFFFFFu));  // transparent grey
  return image;
}

QPoint VisiblePosition(QPoint stored, QSize size, const QList<QRect>& screens)
{
  // A stored position can be any 32-bit number: brought within the range a
  // window can have before any sum is formed with it.
  stored = QPoint(std::clamp(stored.x(), -MaxWindowCoordinate, MaxWindowCoordinate),
                  std::clamp(stored.y(), -MaxWindowCoordinate, MaxWindowCoordinate));
  if (screens.isEmpty()) return stored;
  const QRect titleBar(stored, QSize(std::clamp(size.width(), 1, MaxWindowCoordinate), 30));
  for (const QRect& screen : screens)
    if (screen.intersects(titleBar)) return stored;
  return screens.front().topLeft();
}

QPoint BesidePosition(QRect main, QSize size, const QList<QRect>& screens)
{
  QRect screen = screens.isEmpty() ? QRect(main.topLeft(), QSize(MaxWindowCoordinate, MaxWindowCoordinate))
                                   : screens.front();
  for (const QRect& s : screens)
    if (s.contains(main.center())) screen = s;
  int x = main.right() + 1;
  if (x + size.width() - 1 > screen.right()) x = main.left() - size.width();
  if (x < screen.left()) x = screen.right() + 1 - size.width();
  x = std::max(x, screen.left());
  const int y = std::clamp(main.top(), screen.top(), std::max(screen.top(), screen.bottom() + 1 - size.height()));
  return {x, y};
}

TForm1::TForm1(TForm1Options options, QWidget* parent) : QWidget(parent), Options(std::move(options))
{
  BuildControls();

  // The replaceable parts of the window the options left empty.
  if (!Options.CaptureErrors) {
    OwnErrors = std::make_unique<TMessageBoxReporter>();
    Options.CaptureErrors = OwnErrors.get();
  }
  if (!Options.SaveFileName && !Options.SaveFileAs) {
    Options.SaveFileAs = [](QWidget* parent, const QString& title, const QStringList& filters, int& chosen) {
      QString selected = filters.value(0);
      const QString name = QFileDialog::getSaveFileName(parent, title, QString(), filters.join(QStringLiteral(";;")),
                                                        &selected, QFileDialog::DontConfirmOverwrite);
      chosen = std::max(0, static_cast<int>(filters.indexOf(selected)));
      return name;
    };
  }
  if (!Options.ShowError) {
    Options.ShowError = [](QWidget* parent, const QString& text) {
      QMessageBox::critical(parent, QStringLiteral("Brontel"), text);
    };
  }
  if (!Options.ShowNotice) {
    Options.ShowNotice = [](QWidget* parent, const QString& text) {
      QMessageBox::information(parent, QStringLiteral("Brontel"), text);
    };
  }
  if (!Options.ShowStoreTrouble) Options.ShowStoreTrouble = Options.ShowNotice;
  TMessageWindowOptions messageWindow;
  messageWindow.SettingsPath = Options.SettingsPath;
  messageWindow.FileWrites = Options.FileWrites;
  messageWindow.ShowError = Options.ShowError;
  messageWindow.Beside = this;
  messageWindow.SelectionChanged = [this](const stations::TSelection& s) {
    const std::lock_guard lock(Selection->Lock);
    Selection->Current = s;
  };
  MessagesWindow = std::make_unique<TMessageWindow>(std::move(messageWindow));
  // The alarm that waits, shown in both windows. Here its banner lies over
  // the top of the memo while it waits: the window keeps its layout and size.
  TAlarm::TOptions alarm;
  alarm.RepeatMs = Options.AlarmRepeatMs;
  alarm.Sound = Options.AlarmSound;
  alarm.Attention = [this] {
    QApplication::alert(this);
    if (MessagesWindow && MessagesWindow->isVisible()) QApplication::alert(MessagesWindow.get());
  };
  AlarmPtr = new TAlarm(std::move(alarm), this);
  AlarmBar = new TAlarmBanner(*AlarmPtr, this);
  AlarmBar->setGeometry(Memo1->x() + 2, Memo1->y() + 2, Memo1->width() - 4, 30);
  // The window's tab order stays as it is: the banner is acknowledged with the mouse.
  AlarmBar->AcknowledgeButton()->setFocusPolicy(Qt::ClickFocus);
  MessagesWindow->SetAlarm(*AlarmPtr);
  CaptureRetry = new QTimer(this);
  CaptureRetry->setInterval(std::max(Options.CaptureRetryMs, 1));
  connect(CaptureRetry, &QTimer::timeout, this, [this] { RetryCapture(); });

  // The stored settings.
  const TSettings settings = brontel::LoadSettings(Options.SettingsPath);
  MainTop = settings.MainTop;
  MainLeft = settings.MainLeft;
  InputIndex = settings.InputIndex;
  InputName = settings.InputName;
  CentFPosition = settings.CentFPosition;
  // A device remembered by name is found again when its row has moved.
  if (!InputName.empty()) {
    const std::vector<std::string> names = InputDeviceNames(*Options.Driver);
    const auto it = std::find(names.begin(), names.end(), InputName);
    if (it != names.end()) InputIndex = static_cast<int32_t>(it - names.begin()) + 1;
  }

  // Centre frequency: the up-down keeps its position within its range, and
  // the position read back from it is the one used.
  UpDown1->SetPosition(CentFPosition);

  // The code tables, ready before the first block.
  (void)CodeTable();

  // The receiver with empty text stores that report to this window, and its
  // displays, which draw their first frames now.
  TextRenderer = std::make_unique<TQtTextRenderer>();
  TSessionOptions receiver;
  receiver.CentF = UpDown1->Position() * 10.0;
  receiver.Sink = this;
  receiver.Displays = true;
  receiver.Labels = TextRenderer.get();
  receiver.Views.Image1 = [this](const TRaster& raster) { Image1->ShowCopy(raster); };
  receiver.Views.Image2 = [this](const TRaster& raster) { Image2->ShowCopy(raster); };
  receiver.DispSpectrum = settings.DispSpectrum;
  receiver.DispEyepattern = settings.DispEyepattern;
  receiver.Decoder = settings.Decoder == 1 ? TDecoderPath::Robust : TDecoderPath::Exact;
  receiver.RobustBeside = true;  // the messages come from the robust path, whatever is shown
  SessionPtr = std::make_unique<TReceiverSession>(std::move(receiver));
  SessionPtr->AddListener(this);
  ShowCentF();
  StartMessages(settings);

  // The capture engine, with no device open yet: it hands every block, and
  // every loss of sound, to the session.
  CapturePtr = std::make_unique<TQtCapture>(*Options.Driver, *Options.CaptureErrors,
                                            [this](std::span<const int16_t, BlockSamples> block) {
                                              LevelMeter.Add(block, BlockSeconds);
                                              SecondsSinceBlock = 0;
                                              SessionPtr->ProcessBlock(block);
                                            });
  CapturePtr->Engine().SetGapHandler([this](int blocksLost) { SessionPtr->NoteGap(blocksLost); });

  // The status line, refreshed from what the session and the capture report.
  StatusLinePtr = new TStatusLine();
  StatusLinePtr->OnSwitchPath = [this] {
    SetDecoderPath(DecoderPath() == TDecoderPath::Robust ? TDecoderPath::Exact : TDecoderPath::Robust);
    RefreshStatus();
  };
  StatusLinePtr->OnMoveCentre = [this](int hz) { TuneTo(hz); };
  // It lives at the foot of the message window; the main window keeps its specified layout.
  // It does not widen that window: what does not fit is cut at the right.
  if (MessagesWindow) {
    StatusLinePtr->setSizePolicy(QSizePolicy::Ignored, StatusLinePtr->sizePolicy().verticalPolicy());
    MessagesWindow->SetStatusLine(StatusLinePtr);
  }
  StatusTimer = new QTimer(this);
  StatusTimer->setInterval(500);
  connect(StatusTimer, &QTimer::timeout, this, [this] {
    SecondsSinceBlock += 0.5;
    RefreshStatus();
  });
  StatusTimer->start();

  // Last, the sound input. A failure has been reported and the program runs
  // without audio until the input can be opened.
  StartCapture(/*fallBack=*/true);
  RefreshStatus();
}

TForm1::~TForm1()
{
  if (Options.OnStage) Options.OnStage("destroy");
  CloseCapture();
  CapturePtr.reset();
  MessagesWindow.reset();
  delete StatusLinePtr.data();
  // What the decoders still hold is stored; the window is going, so no alert.
  Closing = true;
  SessionPtr->Finish();
  SessionPtr.reset();
}

void TForm1::BuildControls()
{
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Brontel"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFont(PGothicFont(12));
  setFixedSize(ClientWidth, ClientHeight);
  setWindowIcon(QIcon(QStringLiteral(":/icons/brontel.png")));

  Image1 = new TImageView(256, 145, this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->move(8, 8);
  Image1->OnClick = [this] { Image1Click(); };
  // A double-click tunes: its first click switched the display, which is
  // switched back, so that the display stays as it was.
  Image1->OnDoubleClick = [this](QPointF at) {
    Image1Click();
    TuneTo(SpectrumColumnHz(at.x(), SessionPtr->Receiver().CentF));
  };
  Image1->OnHover = [this](QPointF at) { HoverAt(at); };
  Image1->setToolTip(Tr("Click: spectrum and waterfall on or off. Double-click: tune to the frequency under the pointer"));
  Image2 = new TImageView(180, 145, this);
  Image2->setObjectName(QStringLiteral("Image2"));
  Image2->move(270, 8);
  Image2->OnClick = [this] { Image2Click(); };
  Image2->OnDoubleClick = [this](QPointF) { Image2Click(); };  // the second click of a double-click
  Image2->setToolTip(Tr("Click: eye pattern on or off"));

  Edit2 = new QLineEdit(this);
  Edit2->setObjectName(QStringLiteral("Edit2"));
  Edit2->setGeometry(8, 158, 293, 20);
  Edit2->setReadOnly(true);
  Edit2->setFont(GothicFont(12));

  Label2 = new QLabel(this);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setGeometry(308, 160, 54, 17);
  Label2->setAlignment(Qt::AlignCenter);
  Label2->setAutoFillBackground(true);
  QPalette silver = Label2->palette();
  silver.setColor(QPalette::Window, QColor(192, 192, 192));
  Label2->setPalette(silver);
  Label2->setFont(ReadoutFont(16));
  Label2->setText(QStringLiteral("500Hz"));
  Label2->setToolTip(Tr("Centre of the received tone pair; the mouse wheel steps it"));
  Label2->installEventFilter(this);

  UpDown1 = new TUpDown(CentFLowest, CentFHighest, this);
  UpDown1->installEventFilter(this);
  UpDown1->setObjectName(QStringLiteral("UpDown1"));
  UpDown1->setGeometry(361, 160, 17, 17);
  UpDown1->OnClick = [this] { UpDown1Click(); };

  SpeedButton2 = GlyphButton(this, "SpeedButton2", SaveGlyph, 383);
  SpeedButton3 = GlyphButton(this, "SpeedButton3", CopyGlyph, 406);
  SpeedButton1 = GlyphButton(this, "SpeedButton1", InputGlyph, 429);
  SpeedButton2->setToolTip(Tr("Save the received text"));
  SpeedButton3->setToolTip(Tr("Copy the received text"));
  SpeedButton1->setToolTip(Tr("Input device"));
  connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
  connect(SpeedButton3, &QToolButton::clicked, this, [this] { SpeedButton3Click(); });
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(8, 184, 442, 371);
  Memo1->setReadOnly(true);
  Memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  Memo1->setFont(GothicFont(12));
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setUndoRedoEnabled(false);
  Memo = MemoBanner();
  ShowMemo(false);
  Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(Memo1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { MemoMenu(at); });

  auto* messages = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_M), this);
  messages->setContext(Qt::ApplicationShortcut);
  connect(messages, &QShortcut::activated, this, [this] { OpenMessageWindow(); });

  setTabOrder(Memo1, Edit2);
  setTabOrder(Edit2, UpDown1);
  Memo1->setFocus();
}

void TForm1::FormCreate()
{
  QList<QRect> screens;
  for (const QScreen* screen : QGuiApplication::screens()) screens.push_back(screen->geometry());
  move(VisiblePosition(QPoint(MainLeft, MainTop), frameGeometry().size(), screens));
}

bool TForm1::TryOpenCapture(bool fallBack)
{
  CaptureRetry->stop();
  const auto toStandard = [this](int32_t gone) {
    Options.ShowNotice(this, Tr("入力デバイス %1 が見つからないため、標準の入力デバイスを使います").arg(gone));
    if (DeviceDialogPtr) DeviceDialogPtr->MarkInUse(0);
  };
  const bool opened =
      OpenInput(CapturePtr->Engine(), InputIndex, fallBack ? std::function<void(int32_t)>(toStandard) : nullptr);
  if (opened) SecondsSinceBlock = 0;  // recording from now on, until blocks stay away
  return opened;
}

bool TForm1::OpenCapture() { return StartCapture(/*fallBack=*/false); }

bool TForm1::StartCapture(bool fallBack)
{
  if (TryOpenCapture(fallBack)) return true;
  TCaptureEngine& engine = CapturePtr->Engine();
  // No box claims the program cannot run while it waits for a sound server:
  // the status line says so.
  if (engine.OpenResult() != TWaveResult::NoDriver || !OwnErrors) engine.ShowOpenFailure();
  if (WorthRetrying(engine.OpenResult())) CaptureRetry->start();
  return false;
}

void TForm1::RetryCapture()
{
  if (TryOpenCapture(/*fallBack=*/true)) return;
  if (WorthRetrying(CapturePtr->Engine().OpenResult())) CaptureRetry->start();
}

bool TForm1::RetryingCapture() const { return CaptureRetry && CaptureRetry->isActive(); }

bool TForm1::CloseCapture()
{
  if (CaptureRetry) CaptureRetry->stop();
  return CapturePtr ? CapturePtr->Engine().CloseCapture() : true;
}

void TForm1::closeEvent(QCloseEvent* event)
{
  if (Options.OnStage) Options.OnStage("close");
  // A failure has been reported; the window still closes. The message
  // window opens again at the next start if it is open now, and goes with
  // this window (a file that cannot be written is reported once).
  const bool saved = SaveSettings();
  if (MessagesWindow) {
    if (saved) MessagesWindow->SaveSettings(MessagesWindow->isVisible());
    MessagesWindow->hide();
  }
  event->accept();
}

bool TForm1::SaveSettings()
{
  TSettings s;
  s.MainTop = y();
  s.MainLeft = x();
  s.DispSpectrum = SessionPtr->SpectrumOn();
  s.DispEyepattern = SessionPtr->EyePatternOn();
  s.InputIndex = InputIndex;
  s.InputName = InputName;
  s.CentFPosition = UpDown1->Position();
  s.Decoder = DecoderPath() == TDecoderPath::Robust ? 1 : 0;
  std::string reason;
  if (brontel::SaveSettings(Options.SettingsPath, s, reason, Options.FileWrites)) return true;
  QString text = Tr("%1 に書き込めません").arg(QString::fromStdString(Options.SettingsPath));
  if (!reason.empty()) text += QLatin1Char('\n') + QString::fromStdString(reason);
  Options.ShowError(this, text);
  return false;
}

void TForm1::MemoReplaced(std::string_view memoText)
{
  // Adding the text as lines to the emptied memo ends it with one more line break.
  Memo.assign(memoText);
  Memo += "\r\n";
  ShowMemo(true);
}

void TForm1::MemoMenu(const QPoint& at)
{
  // The memo's own commands, and the choice of the decoder path.
  std::unique_ptr<QMenu> menu(Memo1->createStandardContextMenu());
  menu->addSeparator();
  QAction* robust = menu->addAction(Tr("弱い信号用の復号 (robust)"));
  robust->setObjectName(QStringLiteral("RobustDecoding"));
  robust->setCheckable(true);
  robust->setChecked(DecoderPath() == TDecoderPath::Robust);
  robust->setToolTip(Tr("Decodes weak, fading and mistuned signals; * or 〓 marks a lost character"));
  connect(robust, &QAction::toggled, this,
          [this](bool on) { SetDecoderPath(on ? TDecoderPath::Robust : TDecoderPath::Exact); });
  QAction* messages = menu->addAction(QCoreApplication::translate("TForm1", "Messages..."));
  messages->setObjectName(QStringLiteral("OpenMessages"));
  messages->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
  connect(messages, &QAction::triggered, this, [this] { OpenMessageWindow(); });
  menu->exec(Memo1->mapToGlobal(at));
}

void TForm1::OpenMessageWindow()
{
  if (MessagesWindow) MessagesWindow->Open();
}

void TForm1::SetDecoderPath(TDecoderPath path)
{
  if (path == DecoderPath()) return;
  SessionPtr->SetDecoder(path);
  // The memo and the edit line now show the chosen path's text (the broadcast
  // schedule while it has received no line yet).
  const TTextStore& text = SessionPtr->Text();
  if (text.MemoText.empty()) {
    Memo = MemoBanner();
    ShowMemo(false);
  } else {
    MemoReplaced(text.MemoText);
  }
  EditChanged(text.EditText);
}

void TForm1::StartMessages(const TSettings& settings)
{
  AlertSubjects = settings.AlertSubjects;
  msg::TReceptionOptions options;
  std::string error;
  if (settings.StoreMessages) {
    options.StorePath = Options.MessageStorePath.empty() ? msg::DefaultStorePath(error) : Options.MessageStorePath;
    if (options.StorePath.empty()) Options.ShowError(this, QString::fromStdString(error));
  }
  options.Assembler.Epoch = static_cast<double>(std::time(nullptr));
  // The listener's selection ([Messages] Stations, Subjects): messages
  // outside it are stored, marked so, and neither listed nor announced. The
  // message window may change it while the receiver runs.
  Selection = std::make_shared<TSharedSelection>();
  if (MessagesWindow) {
    const TMessageWindowSettings& kept = MessagesWindow->Settings();
    std::string why;
    if (!stations::ParseStations(kept.Stations, Selection->Current.Stations, why) ||
        !stations::ParseSubjects(kept.Subjects, Selection->Current.Subjects, why)) {
      std::fprintf(stderr, "brontel: [Messages]: %s; every message is received\n", why.c_str());
      Selection->Current = stations::TSelection::All();
    }
  }
  options.Select = [selection = Selection](const msg::TMessage& m) {
    const std::lock_guard lock(selection->Lock);
    return stations::IsSelected(selection->Current, m);
  };
  // A busy store is waited for off the user-interface thread; what the
  // writer has to say about it goes to standard error.
  options.OnNotice = [](const std::string& s) { std::fprintf(stderr, "brontel: %s\n", s.c_str()); };
  // Outcomes are taken after every block, and also when no block comes.
  options.OnOutcome = [this] {
    QMetaObject::invokeMethod(
        this, [this] { if (SessionPtr) SessionPtr->PollMessages(); }, Qt::QueuedConnection);
  };
  if (!SessionPtr->StartMessages(options, error)) {
    // The store cannot be used: say so, and keep the messages of this run in memory.
    Options.ShowError(this, QString::fromStdString(error));
    options.StorePath.clear();
    SessionPtr->StartMessages(options, error);
  }
  // The message window lists the same store, and what arrives.
  if (MessagesWindow) MessagesWindow->SetStore(options.StorePath);
}

TSharedSelection::TSharedSelection() : Current(stations::TSelection::All()) {}

void TForm1::MessageDone(const TMessageEvent& e)
{
  if (!e.Stored) {
    ShowStoreTrouble(e);
  } else {
    StoreTroubleShown = false;
  }
  if (MessagesWindow) MessagesWindow->MessageReceived(e.Message);
  if (!Closing) RaiseAlertFor(e.Message);
}

void TForm1::ShowStoreTrouble(const TMessageEvent& e)
{
  // Said once while the trouble lasts (a full disk fails every message); a
  // message stored since makes the next failure worth saying again.
  if (Closing || StoreTroubleShown) return;
  StoreTroubleShown = true;
  const QString id = QString::fromStdString(e.Message.Id.empty() ? std::string("-") : e.Message.Id);
  const QString text = Tr("受信したメッセージ %1 を保存できません (保存できなかったメッセージ: %2 件)\n%3")
                           .arg(id)
                           .arg(e.Failures)
                           .arg(QString::fromStdString(e.Error));
  // Shown from the event loop, not from inside the session's block: the box
  // may be modal, and blocks go on arriving while it is open.
  QMetaObject::invokeMethod(this, [this, text] { Options.ShowStoreTrouble(this, text); }, Qt::QueuedConnection);
}

void TForm1::RaiseAlertFor(const msg::TMessage& message)
{
  if (!msg::RaisesAlert(message, AlertSubjects) || !message.Selected) return;
  AlarmPtr->Raise(message);
  if (Options.RaiseAlert) {
    Options.RaiseAlert(message);
    return;
  }
  NotifyDesktop(message);
}

void TForm1::EditChanged(std::string_view text) { Edit2->setText(Cp932ToQString(text)); }

void TForm1::ShowMemo(bool caretAtEnd)
{
  QString text = Cp932ToQString(Memo);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  Memo1->setPlainText(text);
  if (caretAtEnd) {
    Memo1->moveCursor(QTextCursor::End);
    Memo1->ensureCursorVisible();
  }
}

void TForm1::ShowCentF() { Label2->setText(QString::number(UpDown1->Position() * 10) + QStringLiteral("Hz")); }

void TForm1::UpDown1Click()
{
  SessionPtr->SetCentF(UpDown1->Position() * 10.0);
  ShowCentF();
}

void TForm1::SpeedButton2Click()
{
  // Code page 932 as received, or UTF-8 for the tools of today.
  int chosen = 0;
  QString name = Options.SaveFileAs ? Options.SaveFileAs(this, Tr(SaveDialogTitle),
                                                         {Tr(SaveDialogFilter), Tr("Text, UTF-8 (*.txt)")}, chosen)
                                    : Options.SaveFileName(this, Tr(SaveDialogTitle), Tr(SaveDialogFilter));
  if (name.isEmpty()) return;
  if (!QFileInfo(name).fileName().contains(QLatin1Char('.'))) name += QStringLiteral(".txt");

  // Written to a temporary file that replaces the target only when complete.
  std::string reason;
  const std::string bytes = chosen == 1 ? Cp932ToUtf8(Memo) : Memo;
  if (WriteFileAtomically(QFile::encodeName(name).toStdString(), bytes, reason, Options.FileWrites)) return;
  Options.ShowError(this, Tr("ファイル %1 を作成できません。\n%2")
                              .arg(QFileInfo(name).absoluteFilePath(), QString::fromLocal8Bit(reason.c_str())));
}

void TForm1::SetInputIndex(int32_t row)
{
  // The name goes with a device chosen by the user; a device that is gone
  // and gave way to the standard one keeps its name, to be found again.
  InputIndex = row;
  InputName = DeviceDialogPtr ? DeviceDialogPtr->DeviceName(row).toStdString() : std::string();
}

void TForm1::SetDeviceDialog(TDeviceDialog* dialog)
{
  DeviceDialogPtr = dialog;
  // A device chosen before its name was kept is known by name from now on.
  if (dialog && InputName.empty() && InputIndex > 0) InputName = dialog->DeviceName(InputIndex).toStdString();
}

void TForm1::StatusChanged(const TStatusEvent& e) { Status.SetStatus(e.Now); }

void TForm1::RefreshStatus()
{
  if (!CapturePtr || !StatusLinePtr) return;
  const TCaptureEngine& engine = CapturePtr->Engine();
  const QString device = InputIndex > 0 && !InputName.empty()
                             ? QString::fromStdString(InputName)
                             : QCoreApplication::translate("TDeviceDialog", StandardDeviceCaption);
  Status.SetInput(InputStateOf(engine.IsOpen(), RetryingCapture(), engine.OpenResult(), SecondsSinceBlock), device);
  Status.SetLevel(LevelMeter.Level());
  // The figures as they are now: the session reports them only when they
  // moved by a step, which the line would show as a lag of up to that step.
  Status.SetStatus(SessionPtr->FullStatus());
  Status.SetPath(DecoderPath());
  Status.SetCentF(SessionPtr->Receiver().CentF);
  StatusLinePtr->Show(Status, CentFLowest * 10, CentFHighest * 10);
}

void TForm1::HoverAt(QPointF at)
{
  if (at.x() < 0 || at.y() < 0) {
    Hover.clear();
    QToolTip::hideText();
    return;
  }
  const double hz = SpectrumColumnHz(at.x(), SessionPtr->Receiver().CentF);
  Hover = QStringLiteral("%1 Hz").arg(std::lround(hz));
  QToolTip::showText(Image1->mapToGlobal(at.toPoint()) + QPoint(12, 12), Hover, Image1);
}

void TForm1::TuneTo(double hz)
{
  if (!std::isfinite(hz)) return;
  const int before = UpDown1->Position();
  UpDown1->SetPosition(static_cast<int>(std::lround(hz / 10.0)));
  if (UpDown1->Position() != before) UpDown1Click();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
  // The wheel over the read-out or the arrows steps the centre.
  if ((watched == Label2 || watched == UpDown1) && event->type() == QEvent::Wheel) {
    const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
    if (delta > 0) UpDown1->StepUp();
    if (delta < 0) UpDown1->StepDown();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::SpeedButton3Click() { QGuiApplication::clipboard()->setText(Cp932ToQString(Memo)); }

void TForm1::SpeedButton1Click()
{
  if (DeviceDialogPtr) DeviceDialogPtr->exec();
}

void TForm1::Image1Click()
{
  if (Displays()) Displays()->Image1Click();
}

void TForm1::Image2Click()
{
  if (Displays()) Displays()->Image2Click();
}

}  // namespace brontel
