#ifndef OEMINFO_H
#define OEMINFO_H

#include "core_global.h"

#include <QtCore/QObject>
#include <QtCore/QString>

/**
 * The branding texts. Each passes through tr() in the context "OemInfo", so a
 * translation file holding that context rebrands the application.
 *
 * @ingroup services
 */
class CORE_EXPORT OemInfo : public QObject
{
    Q_OBJECT
public:
    explicit OemInfo(QObject *parent = nullptr);
    ~OemInfo() override;

    static QString oemIdText();
    static QString organizationName();
    static QString krApplicationName();
    /** Rich text with %1 for the title and %2 for the version. */
    static QString krAboutText();
    static QString reportDesignerApplicationName();
};

#endif // OEMINFO_H
