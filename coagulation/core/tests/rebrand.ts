<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>OemInfo</name>
    <message>
        <source>示例医疗仪器有限公司</source>
        <translation>Example Instruments</translation>
    </message>
    <message>
        <source>0001</source>
        <translation>0042</translation>
    </message>
</context>
</TS>
