#include "app/application.h"
#include "app/settings_location.h"

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <QMessageBox>

#include <exception>
#include <memory>

#include "app/device_dialog.h"
#include "app/message_window.h"
#include "app/notice_window.h"
#include "app/settings.h"
#include "app/translations.h"
#include "audio/wave_in.h"

namespace brontel {

TApplicationWindows::TApplicationWindows(TForm1Options options)
{
  TWaveInDriver& driver = *options.Driver;
  TDeviceDialogOptions dialogOptions = std::move(options.DeviceDialog);
  auto form1 = std::make_unique<TForm1>(std::move(options));
  auto noticeWindow = std::make_unique<TNoticeWindow>(form1.get());
  auto deviceDialog = std::make_unique<TDeviceDialog>(*form1, *noticeWindow, driver, std::move(dialogOptions),
                                                      form1.get());
  form1->SetDeviceDialog(deviceDialog.get());
  Form1 = form1.release();
  NoticeWindow = noticeWindow.release();
  DeviceDialog = deviceDialog.release();
}

TApplicationWindows::~TApplicationWindows()
{
  if (Form1) Form1->SetDeviceDialog(nullptr);
  delete DeviceDialog;
  delete NoticeWindow;
  delete Form1;
}

void TApplicationWindows::Show()
{
  Form1->FormCreate();
  Form1->show();
  // The message window, with the status line at its foot, opens at the first
  // start and again if it was open when the program ended.
  if (TMessageWindow* messages = Form1->MessageWindow(); messages && messages->WasOpen()) messages->Open();
}

int RunBrontel(int argc, char** argv)
{
  try {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brontel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Brontel"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/brontel.png")));
    try {
      const std::unique_ptr<TWaveInDriver> driver = MakePulseWaveInDriver();
      TForm1Options options;
      options.Driver = driver.get();
      options.SettingsPath = SettingsFilePath(QCoreApplication::applicationFilePath().toStdString());
      // The interface speaks the language of the settings file or of the
      // environment, from the first window on.
      TTranslations translations;
      translations.Install(ChooseLanguage(LoadSettings(options.SettingsPath).Language));
      int status = 0;
      {
        TApplicationWindows windows(std::move(options));
        windows.Show();
        status = QApplication::exec();
      }
      return status;
    } catch (const std::exception& e) {
      QMessageBox::critical(nullptr, QStringLiteral("Brontel"), QString::fromLocal8Bit(e.what()));
    } catch (...) {
      QMessageBox::critical(nullptr, QStringLiteral("Brontel"),
                            QCoreApplication::translate("TApplicationWindows", "Unknown error"));
    }
  } catch (...) {
  }
  return 1;
}

}  // namespace brontel
