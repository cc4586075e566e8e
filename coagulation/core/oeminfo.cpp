#include "oeminfo.h"

OemInfo::OemInfo(QObject *parent)
    : QObject(parent)
{ }

OemInfo::~OemInfo() = default;

QString OemInfo::oemIdText()
{
    return tr("0001");
}

QString OemInfo::organizationName()
{
    return tr("示例医疗仪器有限公司");
}

QString OemInfo::krApplicationName()
{
    return tr("全自动血凝分析仪");
}

QString OemInfo::krAboutText()
{
    return tr("<h2>%1</h2>\n版本: %2");
}

QString OemInfo::reportDesignerApplicationName()
{
    return tr("ReportDesigner");
}
