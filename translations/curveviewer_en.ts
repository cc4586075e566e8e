<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>CurveListModel</name>
    <message>
        <location filename="../examples/curveviewer/curvelistmodel.cpp" line="+17"/>
        <source>行</source>
        <translation>Row</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>样本</source>
        <translation>Sample</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>项目</source>
        <translation>Test</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>版本</source>
        <translation>Version</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>字节</source>
        <translation>Bytes</translation>
    </message>
    <message>
        <location line="+31"/>
        <source>数据数据库 %1 没有打开。%2</source>
        <translation>The data database %1 is not open. %2</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>无法读取表 curve：%1</source>
        <translation>Cannot read the table curve: %1</translation>
    </message>
</context>
<context>
    <name>CurvePlot</name>
    <message>
        <location filename="../examples/curveplot/curveplot.cpp" line="+163"/>
        <source>原始信号，第 %1 段</source>
        <translation>Raw signal, segment %1</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>光密度，第 1 段</source>
        <translation>Optical density, segment 1</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>曲线没有可以绘制的点</source>
        <translation>The curve has no point that can be plotted</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>曲线没有点</source>
        <translation>The curve has no points</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>时间 (s)</source>
        <translation>Time (s)</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>原始信号</source>
        <translation>Raw signal</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>光密度</source>
        <translation>Optical density</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>没有保存曲线</source>
        <translation>No curve stored</translation>
    </message>
    <message numerus="yes">
        <location line="+10"/>
        <source>无法解码曲线：这 %n 个字节不是一条完整的曲线</source>
        <translation>
            <numerusform>Cannot decode the curve: its %n byte is not a whole curve</numerusform>
            <numerusform>Cannot decode the curve: its %n bytes are not a whole curve</numerusform>
        </translation>
    </message>
    <message>
        <location line="-2"/>
        <source>无法解码曲线：未知的点类型 %1</source>
        <translation>Cannot decode the curve: unknown point type %1</translation>
    </message>
</context>
<context>
    <name>CurveViewerWindow</name>
    <message>
        <location filename="../examples/curveviewer/curveviewerwindow.cpp" line="+33"/>
        <source>曲线查看器 - %1</source>
        <translation>Curve viewer - %1</translation>
    </message>
    <message>
        <location line="+21"/>
        <source>刷新</source>
        <translation>Reload</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>重新读取表 curve，显示此后保存的曲线</source>
        <translation>Read the table curve again, for the curves saved since</translation>
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
        <source>曲线</source>
        <translation>Curves</translation>
    </message>
    <message numerus="yes">
        <location line="+37"/>
        <source>%n 条曲线</source>
        <translation>
            <numerusform>%n curve</numerusform>
            <numerusform>%n curves</numerusform>
        </translation>
    </message>
    <message>
        <location line="+2"/>
        <source>表 curve 中没有曲线</source>
        <translation>The table curve holds no curve</translation>
    </message>
    <message>
        <location line="+15"/>
        <source>样本 %1，项目 %2，版本 %3</source>
        <translation>Sample %1, test %2, version %3</translation>
    </message>
</context>
</TS>
