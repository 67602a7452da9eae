<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>ServerThread</name>
    <message>
        <source>Wrong password</source>
        <translation>Wrong password</translation>
    </message>
</context>
</TS>
