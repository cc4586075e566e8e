<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>MainWindow</name>
    <message>
        <location filename="../examples/settingseditor/mainwindow.cpp" line="+46"/>
        <source>设置编辑器 - %1</source>
        <translation>Settings editor - %1</translation>
    </message>
    <message>
        <location line="+11"/>
        <location filename="../examples/settingseditor/tst_settingseditor.cpp" line="+483"/>
        <source>还原</source>
        <translation>Revert</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>重新显示设置存储中的值</source>
        <translation>Show again what the settings store holds</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>文件(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
</context>
<context>
    <name>ProgramStart</name>
    <message>
        <location filename="../examples/support/programstart.cpp" line="+76"/>
        <source>选择安装目录</source>
        <translation>Choose the installation directory</translation>
    </message>
</context>
<context>
    <name>SettingsTree</name>
    <message>
        <location filename="../examples/settingseditor/settingsitems.cpp" line="+168"/>
        <source>样本前缀</source>
        <translation>Sample prefixes</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>急诊样本前缀</source>
        <translation>Emergency sample prefix</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>质控样本前缀</source>
        <translation>QC sample prefix</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>结果文字</source>
        <translation>Result texts</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>准备中</source>
        <translation>Preparing</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>无法计算</source>
        <translation>Cannot be calculated</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>孵育中</source>
        <translation>Incubating</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>分析中</source>
        <translation>Analysing</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>不凝</source>
        <translation>Not clotted</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>标志符号</source>
        <translation>Flag marks</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>稀释结果</source>
        <translation>Diluted result</translation>
    </message>
    <message>
        <location line="+1"/>
        <location line="+13"/>
        <source>低于报告下限</source>
        <translation>Below the lower report limit</translation>
    </message>
    <message>
        <location line="-12"/>
        <location line="+13"/>
        <source>高于报告上限</source>
        <translation>Above the upper report limit</translation>
    </message>
    <message>
        <location line="-12"/>
        <location line="+13"/>
        <source>低于标记下限</source>
        <translation>Below the lower mark limit</translation>
    </message>
    <message>
        <location line="-12"/>
        <location line="+13"/>
        <source>高于标记上限</source>
        <translation>Above the upper mark limit</translation>
    </message>
    <message>
        <location line="-12"/>
        <source>手工输入</source>
        <translation>Manual input</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>颜色</source>
        <translation>Colours</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>等待</source>
        <translation>Waiting</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>加样</source>
        <translation>Dispensing</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>孵育</source>
        <translation>Incubating</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>分析</source>
        <translation>Analysing</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>无结果</source>
        <translation>No result</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>视图</source>
        <translation>Views</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>分析界面显示的项目</source>
        <translation>Tests shown in the analysis view</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>病人信息显示的字段</source>
        <translation>Patient fields shown</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>质控</source>
        <translation>Quality control</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>最大质控文件数</source>
        <translation>Maximum QC files</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>质控方法</source>
        <translation>QC method</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>仪器</source>
        <translation>Instrument</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>医院名称</source>
        <translation>Hospital name</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>触摸屏</source>
        <translation>Touch screen</translation>
    </message>
</context>
</TS>
