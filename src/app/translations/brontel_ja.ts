<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>TForm1</name>
    <message>
        <source>Decodes weak, fading and mistuned signals; * or 〓 marks a lost character</source>
        <translation>弱い信号、フェージングや同調ずれのある信号を復号します。* または 〓 は失われた文字です</translation>
    </message>
    <message>
        <source>Click: spectrum and waterfall on or off. Double-click: tune to the frequency under the pointer</source>
        <translation>クリック: スペクトラムとウォーターフォールの表示の切り替え。ダブルクリック: ポインタの位置の周波数に同調</translation>
    </message>
    <message>
        <source>Click: eye pattern on or off</source>
        <translation>クリック: アイパターン表示の切り替え</translation>
    </message>
    <message>
        <source>Centre of the received tone pair; the mouse wheel steps it</source>
        <translation>受信するトーン対の中心周波数 (マウスホイールで変更できます)</translation>
    </message>
    <message>
        <source>Save the received text</source>
        <translation>受信文の保存</translation>
    </message>
    <message>
        <source>Copy the received text</source>
        <translation>受信文のコピー</translation>
    </message>
    <message>
        <source>Input device</source>
        <translation>入力デバイス</translation>
    </message>
    <message>
        <source>Text, UTF-8 (*.txt)</source>
        <translation>テキスト UTF-8 (*.txt)</translation>
    </message>
    <message>
        <source>Messages...</source>
        <translation>受信メッセージ...</translation>
    </message>
</context>
<context>
    <name>TDeviceDialog</name>
    <message>
        <source>No mixer is installed: install pavucontrol to set the recording level</source>
        <translation>ミキサーがインストールされていません。録音レベルの設定には pavucontrol をインストールしてください</translation>
    </message>
</context>
<context>
    <name>TApplicationWindows</name>
    <message>
        <source>Unknown error</source>
        <translation>不明なエラー</translation>
    </message>
</context>
<context>
    <name>TStatusLine</name>
    <message>
        <source>%1: recording</source>
        <translation>%1: 録音中</translation>
    </message>
    <message>
        <source>Waiting for the sound server</source>
        <translation>サウンドサーバーを待っています</translation>
    </message>
    <message>
        <source>%1: lost, trying again</source>
        <translation>%1: 途切れました。再試行中</translation>
    </message>
    <message>
        <source>%1: not recording</source>
        <translation>%1: 録音していません</translation>
    </message>
    <message>
        <source>Level –</source>
        <translation>レベル –</translation>
    </message>
    <message>
        <source>Level %1 dB (peak %2 dB)</source>
        <translation>レベル %1 dB (ピーク %2 dB)</translation>
    </message>
    <message>
        <source>The input clips: turn the receiver's audio or the input level down</source>
        <translation>入力が飽和しています。受信機の音量か入力レベルを下げてください</translation>
    </message>
    <message>
        <source>The input is far too quiet: check the input device and its level</source>
        <translation>入力レベルが低すぎます。入力デバイスとレベルを確認してください</translation>
    </message>
    <message>
        <source>No signal</source>
        <translation>信号なし</translation>
    </message>
    <message>
        <source>Signal: SNR %1 dB, offset %2 Hz</source>
        <translation>信号: SNR %1 dB、ずれ %2 Hz</translation>
    </message>
    <message>
        <source>Synchronised</source>
        <translation>同期</translation>
    </message>
    <message>
        <source>Not synchronised</source>
        <translation>非同期</translation>
    </message>
    <message>
        <source>English NAVTEX</source>
        <translation>英文 NAVTEX</translation>
    </message>
    <message>
        <source>Japanese NAVTEX</source>
        <translation>和文 NAVTEX</translation>
    </message>
    <message>
        <source>Memo: robust path</source>
        <translation>表示: 弱信号用の復号</translation>
    </message>
    <message>
        <source>Memo: exact path</source>
        <translation>表示: 標準の復号</translation>
    </message>
    <message>
        <source>Click to show the other decoder path in the memo</source>
        <translation>クリックで表示する復号を切り替えます</translation>
    </message>
    <message>
        <source>Moves the centre frequency onto the signal heard</source>
        <translation>中心周波数を受信中の信号に合わせます</translation>
    </message>
    <message>
        <source>Input level: average (bar), peak (tick), red when the input clips</source>
        <translation>入力レベル: 平均 (棒)、ピーク (線)、飽和すると赤</translation>
    </message>
    <message>
        <source>Tune to %1 Hz</source>
        <translation>%1 Hz に同調</translation>
    </message>
</context>
<context>
    <name>TAlarm</name>
    <message>
        <source>ALARM: %1</source>
        <translation>警報: %1</translation>
    </message>
</context>
<context>
    <name>TAlarmBanner</name>
    <message>
        <source>Acknowledge</source>
        <translation>確認</translation>
    </message>
</context>
<context>
    <name>TMessageListModel</name>
    <message>
        <source>Received (UTC)</source>
        <translation>受信 (UTC)</translation>
    </message>
    <message>
        <source>Local time</source>
        <translation>受信 (現地時刻)</translation>
    </message>
    <message>
        <source>Identity</source>
        <translation>識別符号</translation>
    </message>
    <message>
        <source>Station</source>
        <translation>局</translation>
    </message>
    <message>
        <source>Subject</source>
        <translation>情報種別</translation>
    </message>
    <message>
        <source>Errors</source>
        <translation>誤り率</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状態</translation>
    </message>
    <message>
        <source>Copies</source>
        <translation>受信回数</translation>
    </message>
    <message>
        <source>New</source>
        <translation>新着</translation>
    </message>
    <message>
        <source>%1 lost</source>
        <translation>%1 文字欠落</translation>
    </message>
    <message>
        <source>outside selection</source>
        <translation>選択外</translation>
    </message>
    <message>
        <source>new</source>
        <translation>新着</translation>
    </message>
    <message>
        <source>complete</source>
        <translation>完全</translation>
    </message>
    <message>
        <source>no end (NNNN)</source>
        <translation>終了符号 (NNNN) なし</translation>
    </message>
    <message>
        <source>header errors</source>
        <translation>ヘッダに誤り</translation>
    </message>
    <message>
        <source>no header (ZCZC)</source>
        <translation>ヘッダ (ZCZC) なし</translation>
    </message>
    <message>
        <source>navigational warning</source>
        <translation>航行警報</translation>
    </message>
    <message>
        <source>meteorological warning</source>
        <translation>気象警報</translation>
    </message>
    <message>
        <source>ice report</source>
        <translation>海氷情報</translation>
    </message>
    <message>
        <source>search and rescue information, piracy warning</source>
        <translation>捜索救助情報、海賊情報</translation>
    </message>
    <message>
        <source>meteorological forecast</source>
        <translation>気象予報</translation>
    </message>
    <message>
        <source>pilot service message</source>
        <translation>水先業務情報</translation>
    </message>
    <message>
        <source>AIS message</source>
        <translation>AIS 情報</translation>
    </message>
    <message>
        <source>LORAN message</source>
        <translation>ロラン情報</translation>
    </message>
    <message>
        <source>satellite navigation message</source>
        <translation>衛星航法情報</translation>
    </message>
    <message>
        <source>other electronic navaid message</source>
        <translation>その他の電子航法援助情報</translation>
    </message>
    <message>
        <source>navigational warning (additional to A)</source>
        <translation>航行警報 (A の追加)</translation>
    </message>
    <message>
        <source>special service</source>
        <translation>特別業務</translation>
    </message>
    <message>
        <source>no message on hand</source>
        <translation>送信する情報なし</translation>
    </message>
</context>
<context>
    <name>TMessageWindow</name>
    <message>
        <source>Brontel messages</source>
        <translation>Brontel 受信メッセージ</translation>
    </message>
    <message>
        <source>Search text</source>
        <translation>本文を検索</translation>
    </message>
    <message>
        <source>Stations</source>
        <translation>局</translation>
    </message>
    <message>
        <source>Station letters to list, e.g. &quot;EKO&quot; (empty: all)</source>
        <translation>一覧に表示する局の識別文字。例: &quot;EKO&quot; (空欄: すべて)</translation>
    </message>
    <message>
        <source>Subjects</source>
        <translation>情報種別</translation>
    </message>
    <message>
        <source>Subject letters to list, e.g. &quot;ABDL&quot; (empty: all)</source>
        <translation>一覧に表示する情報種別の文字。例: &quot;ABDL&quot; (空欄: すべて)</translation>
    </message>
    <message>
        <source>Any time</source>
        <translation>全期間</translation>
    </message>
    <message>
        <source>Last 24 hours</source>
        <translation>過去 24 時間</translation>
    </message>
    <message>
        <source>Last 3 days</source>
        <translation>過去 3 日間</translation>
    </message>
    <message>
        <source>Last 7 days</source>
        <translation>過去 7 日間</translation>
    </message>
    <message>
        <source>New only</source>
        <translation>新着のみ</translation>
    </message>
    <message>
        <source>Show all</source>
        <translation>すべて表示</translation>
    </message>
    <message>
        <source>Also list messages outside the selection of stations and subjects</source>
        <translation>受信選択に含まれない局・情報種別のメッセージも一覧に表示します</translation>
    </message>
    <message>
        <source>Mark all read</source>
        <translation>すべて既読にする</translation>
    </message>
    <message>
        <source>Selection...</source>
        <translation>受信選択...</translation>
    </message>
    <message>
        <source>Which stations and subjects to receive</source>
        <translation>受信する局と情報種別を選びます</translation>
    </message>
    <message>
        <source>Keep</source>
        <translation>保持</translation>
    </message>
    <message>
        <source>Tag this message to keep</source>
        <translation>このメッセージに保持の印を付けます</translation>
    </message>
    <message>
        <source>Copies</source>
        <translation>受信履歴</translation>
    </message>
    <message>
        <source>Show every received copy of this message</source>
        <translation>このメッセージを受信したすべての回を表示します</translation>
    </message>
    <message>
        <source>Selection</source>
        <translation>受信選択</translation>
    </message>
    <message>
        <source>Messages from other stations or of other subjects are stored but neither listed nor announced. Subjects A, B, D and L are always received, and so is a message numbered 00. Letters, or * for all.</source>
        <translation>ほかの局や情報種別のメッセージも保存されますが、一覧には表示せず、通知もしません。情報種別 A、B、D、L と番号 00 のメッセージは常に受信します。文字で指定します (* ですべて)。</translation>
    </message>
    <message>
        <source>Stations (B1):</source>
        <translation>局 (B1):</translation>
    </message>
    <message>
        <source>Subjects (B2):</source>
        <translation>情報種別 (B2):</translation>
    </message>
    <message>
        <source>The message store cannot be read: %1</source>
        <translation>メッセージの保存先を読み込めません: %1</translation>
    </message>
    <message>
        <source>&lt;p&gt;Only this copy was received in this run.&lt;/p&gt;</source>
        <translation>&lt;p&gt;今回の起動中に受信したのはこの回だけです。&lt;/p&gt;</translation>
    </message>
    <message>
        <source>The copies cannot be read: %1</source>
        <translation>受信履歴を読み込めません: %1</translation>
    </message>
    <message>
        <source>Copy %1, %2 UTC, %3 path, receiver %4, errors %5 %</source>
        <translation>第 %1 回、%2 UTC、復号 %3、受信機 %4、誤り %5 %</translation>
    </message>
    <message>
        <source>Stations: letters A to Z, * for all or - for none</source>
        <translation>局: A〜Z の文字、* (すべて) または - (なし) で指定してください</translation>
    </message>
    <message>
        <source>Subjects: letters A to Z, * for all or - for none</source>
        <translation>情報種別: A〜Z の文字、* (すべて) または - (なし) で指定してください</translation>
    </message>
    <message>
        <source>Positions:</source>
        <translation>位置:</translation>
    </message>
</context>
</TS>
