<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_GB">
<context>
    <name>TForm1</name>
    <message>
        <source>受信文の保存</source>
        <translation>Save received text</translation>
    </message>
    <message>
        <source>テキスト (*.txt)</source>
        <translation>Text (*.txt)</translation>
    </message>
    <message>
        <source>入力デバイス %1 が見つからないため、標準の入力デバイスを使います</source>
        <translation>Input device %1 was not found; the standard input device is used</translation>
    </message>
    <message>
        <source>弱い信号用の復号 (robust)</source>
        <translation>Decoding for weak signals (robust)</translation>
    </message>
    <message>
        <source>受信したメッセージ %1 を保存できません (保存できなかったメッセージ: %2 件)
%3</source>
        <translation>The received message %1 cannot be stored (messages not stored: %2)
%3</translation>
    </message>
    <message>
        <source>ファイル %1 を作成できません。
%2</source>
        <translation>Cannot create the file %1.
%2</translation>
    </message>
    <message>
        <source>%1 に書き込めません</source>
        <translation>Cannot write %1</translation>
    </message>
</context>
<context>
    <name>TDeviceDialog</name>
    <message>
        <source>入力デバイス＆デコーダ動作の選択</source>
        <translation>Input Device</translation>
    </message>
    <message>
        <source>入力デバイス名</source>
        <translation>Input device</translation>
    </message>
    <message>
        <source>選択</source>
        <translation>In use</translation>
    </message>
    <message>
        <source>サウンド設定</source>
        <translation>Sound Settings</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>標準の入力デバイス</source>
        <translation>Standard input device</translation>
    </message>
</context>
<context>
    <name>TNoticeWindow</name>
    <message>
        <source>Recoding Device Change</source>
        <translation>Changing the Input Device</translation>
    </message>
</context>
<context>
    <name>TMessageBoxReporter</name>
    <message>
        <source>エラー</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>録音デバイスをオープンできないためプログラムの実行ができません</source>
        <translation>The recording device cannot be opened, so the program cannot record</translation>
    </message>
    <message>
        <source>デバイスが使用中か録音フォーマットに対応していない可能性があります</source>
        <translation>The device may be in use or may not support the recording format</translation>
    </message>
    <message>
        <source>バッファを確保できないためプログラムの実行ができません</source>
        <translation>The recording buffers cannot be allocated, so the program cannot record</translation>
    </message>
    <message>
        <source>メモリが不足している可能性があります</source>
        <translation>The computer may be short of memory</translation>
    </message>
</context>
</TS>
