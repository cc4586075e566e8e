<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>OemInfo</name>
    <message>
        <location filename="../coagulation/core/oeminfo.cpp" line="+11"/>
        <source>0001</source>
        <translation>0001</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>示例医疗仪器有限公司</source>
        <translation>Example Medical Instruments Co., Ltd.</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>全自动血凝分析仪</source>
        <translation>Automatic Coagulation Analyzer</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>&lt;h2&gt;%1&lt;/h2&gt;
版本: %2</source>
        <translation>&lt;h2&gt;%1&lt;/h2&gt;
Version: %2</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>ReportDesigner</source>
        <translation>ReportDesigner</translation>
    </message>
</context>
<context>
    <name>Profile</name>
    <message>
        <location filename="../coagulation/core/profile.h" line="+54"/>
        <source>M</source>
        <translation>M</translation>
    </message>
    <message>
        <location line="-5"/>
        <source>!</source>
        <translation>!</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>&lt;</source>
        <translation>&lt;</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>&gt;</source>
        <translation>&gt;</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>↓</source>
        <translation>↓</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>↑</source>
        <translation>↑</translation>
    </message>
    <message>
        <location line="-5"/>
        <source>不凝</source>
        <translation>No clot</translation>
    </message>
    <message>
        <location line="-3"/>
        <source>---.-</source>
        <translation>---.-</translation>
    </message>
    <message>
        <location filename="../coagulation/core/profilestartup.cpp" line="+279"/>
        <source>找不到配置文件 %1</source>
        <translation>Cannot find the profile %1</translation>
    </message>
    <message>
        <location line="+18"/>
        <source>settings.ini 为两个数据库指定了同一个文件 %1</source>
        <translation>settings.ini names one file for two databases: %1</translation>
    </message>
    <message>
        <location line="+14"/>
        <location line="+25"/>
        <source>无法加载配置文件 %1
%2</source>
        <translation>Cannot load the profile %1
%2</translation>
    </message>
    <message>
        <location line="-20"/>
        <source>数据库文件 %1 被其他程序锁定</source>
        <translation>The database file %1 is locked by another program</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>错误的配置文件 %1</source>
        <translation>Invalid profile %1</translation>
    </message>
    <message>
        <location line="-7"/>
        <source>无法打开数据库文件 %1</source>
        <translation>Cannot open the database file %1</translation>
    </message>
    <message>
        <location line="-51"/>
        <source>设置文件 settings.ini 有误：%1</source>
        <translation>The settings file settings.ini is faulty: %1</translation>
    </message>
    <message>
        <location line="+59"/>
        <source>错误的数据库文件 %1</source>
        <translation>Invalid database file %1</translation>
    </message>
</context>
<context>
    <name>PropertyItemModel</name>
    <message>
        <location filename="../coagulation/core/propertyitem.cpp" line="+390"/>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>值</source>
        <translation>Value</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <location filename="../coagulation/core/analysisresult.cpp" line="+23"/>
        <source>结果为空</source>
        <translation>No result</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>无效的值</source>
        <translation>Invalid value</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>未知错误</source>
        <translation>Unknown error</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>无标准曲线</source>
        <translation>No standard curve</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>标准曲线无效</source>
        <translation>Invalid standard curve</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>标准曲线设置错误</source>
        <translation>Wrong standard curve settings</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>无效的计算方法</source>
        <translation>Invalid calculation method</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>计算所需的参数不存在</source>
        <translation>Parameters needed for the calculation are missing</translation>
    </message>
</context>
</TS>
