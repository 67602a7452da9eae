<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>About</name>
    <message>
        <source>ABOUT_TITLE</source>
        <translation>About Tessaly</translation>
    </message>
    <message>
        <source>ABOUT_TEXT</source>
        <translation>Tessaly shares one folder or one file of this machine over HTTP, HTTPS and WebDAV.</translation>
    </message>
</context>
<context>
    <name>MobileWebServer</name>
    <message>
        <source>r4</source>
        <translation>Free software without any warranty: whoever reaches a running server's address reaches what it shares.</translation>
    </message>
</context>
</TS>
