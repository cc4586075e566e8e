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
        <location line="+63"/>
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
        <location filename="../examples/curveplot/curveplot.cpp" line="+393"/>
        <source>拖动矩形放大，滚轮缩放，中键或 Shift 拖动平移，双击复原</source>
        <translation>Drag a rectangle to zoom in, turn the wheel to zoom, drag with the middle button or with Shift to pan, double-click to see the whole curve</translation>
    </message>
    <message>
        <location line="+263"/>
        <source>时间 %1 s，原始信号 %2，光密度 %3</source>
        <translation>Time %1 s, raw signal %2, optical density %3</translation>
    </message>
    <message>
        <location line="+63"/>
        <source>复原缩放</source>
        <translation>Reset zoom</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>显示整条曲线</source>
        <translation>Show the whole curve</translation>
    </message>
    <message>
        <location line="+36"/>
        <source>原始信号，第 %1 段</source>
        <translation>Raw signal, segment %1</translation>
    </message>
    <message>
        <location line="+3"/>
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
        <location line="+12"/>
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
        <location line="+32"/>
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
        <location line="+79"/>
        <source>没有可以导出的曲线</source>
        <translation>There is no curve to export</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>无法导出为 %1：请选择 PNG、SVG 或 PDF 文件</source>
        <translation>Cannot export as %1: choose a PNG, SVG or PDF file</translation>
    </message>
    <message>
        <location line="+6"/>
        <location line="+29"/>
        <source>无法写入 %1：%2</source>
        <translation>Cannot write %1: %2</translation>
    </message>
    <message>
        <location line="-120"/>
        <source>无法解码曲线：未知的点类型 %1</source>
        <translation>Cannot decode the curve: unknown point type %1</translation>
    </message>
</context>
<context>
    <name>CurveViewerWindow</name>
    <message>
        <location filename="../examples/curveviewer/curveviewerwindow.cpp" line="+47"/>
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
        <source>导出图像...</source>
        <translation>Export image...</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>把显示的曲线图保存为 PNG、SVG 或 PDF 文件</source>
        <translation>Save the plot as shown to a PNG, SVG or PDF file</translation>
    </message>
    <message>
        <location line="+7"/>
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
        <source>视图(&amp;V)</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>曲线</source>
        <translation>Curves</translation>
    </message>
    <message numerus="yes">
        <location line="+56"/>
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
    <message>
        <location line="+29"/>
        <location line="+17"/>
        <source>导出图像</source>
        <translation>Export image</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>已导出到 %1</source>
        <translation>Exported to %1</translation>
    </message>
    <message>
        <location line="-26"/>
        <source>PNG 图像 (*.png)</source>
        <translation>PNG image (*.png)</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>SVG 图形 (*.svg)</source>
        <translation>SVG drawing (*.svg)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>PDF 文档 (*.pdf)</source>
        <translation>PDF document (*.pdf)</translation>
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
</TS>
