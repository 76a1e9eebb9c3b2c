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
</TS>
