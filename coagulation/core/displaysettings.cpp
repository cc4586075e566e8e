#include "displaysettings_p.h"

#include "perthread_p.h"
#include "profile.h"
#include "profile_p.h"

#include <QtGui/QBrush>

#include <algorithm>

namespace {

using TextSetting = QString (Profile::*)(const QString &);
using ColourSetting = QColor (Profile::*)(const QColor &);

template<typename Setting>
struct Source
{
    Setting setting;
    const char *key; // also where Profile::libraryDefault finds the default
};
#define SOURCE(name) \
    { \
        &Profile::name, #name \
    }

const Source<TextSetting> markSources[DisplaySettings::MarkCount] = {
    SOURCE(manual_input_flag),       SOURCE(dilution_result_flag),  SOURCE(lower_report_limit_flag),
    SOURCE(upper_report_limit_flag), SOURCE(lower_mark_limit_flag), SOURCE(upper_mark_limit_flag),
};
const Source<TextSetting> notClottedSource = SOURCE(result_not_clotted);
const Source<TextSetting> noResultSource = SOURCE(result_can_not_be_calculated);

const Source<ColourSetting> colourSources[DisplaySettings::ColourCount] = {
    SOURCE(color_of_null_result), SOURCE(color_of_upper_report), SOURCE(color_of_lower_report),
    SOURCE(color_of_upper_mark),  SOURCE(color_of_lower_mark),
};
#undef SOURCE

template<typename T, typename Setting>
T read(Profile &profile, const Source<Setting> &source)
{
    return (profile.*source.setting)(
        Profile::libraryDefault(QLatin1String(source.key)).template value<T>());
}

DisplaySettings readSettings(Profile &profile)
{
    DisplaySettings settings;
    for (int i = 0; i < DisplaySettings::MarkCount; ++i)
        settings.marks[i] = read<QString>(profile, markSources[i]);
    settings.notClotted = read<QString>(profile, notClottedSource);
    settings.noResult = read<QString>(profile, noResultSource);
    for (int i = 0; i < DisplaySettings::ColourCount; ++i)
        settings.brushes[i] = QBrush(read<QColor>(profile, colourSources[i]), Qt::SolidPattern);

    for (int i = 0; i < DisplaySettings::MarkCount; ++i)
        (i < DisplaySettings::firstArrow ? settings.leadingCharacters : settings.arrowCharacters) +=
            settings.marks[i];
    settings.wordCharacters = settings.notClotted;
    const auto allowed = [](const QString &characters, const QString &others) {
        return std::none_of(characters.cbegin(), characters.cend(), [&others](QChar c) {
            return c.isSpace() || c.isDigit() || QStringLiteral("+-.eE").contains(c)
                || others.contains(c);
        });
    };
    settings.plain =
        allowed(settings.leadingCharacters, settings.wordCharacters + settings.arrowCharacters)
        && allowed(settings.wordCharacters, settings.arrowCharacters)
        && allowed(settings.arrowCharacters, QString());
    return settings;
}

} // namespace

const kr::ResultFlag DisplaySettings::markFlags[MarkCount] = {
    kr::ManualInputFlag,      kr::DilutionResultFlag, kr::LowerReportLimitFlag,
    kr::UpperReportLimitFlag, kr::LowerMarkLimitFlag, kr::UpperMarkLimitFlag,
};

DisplaySettings::Current::Current()
{
    struct Snapshot
    {
        const Profile *store = nullptr;
        quint64 changes = 0;
        DisplaySettings settings;
    };
    Profile &profile = Profile::instance();
    Snapshot *snapshot = PerThread<Snapshot>::get();
    if (!snapshot) {
        // The thread is ending and keeps no snapshot any more.
        m_own = readSettings(profile);
        m_settings = &*m_own;
        return;
    }
    const quint64 changes = ProfilePrivate::changeCount();
    if (snapshot->store != &profile || snapshot->changes != changes) {
        // The count is taken before reading, so a change made meanwhile is
        // read at the next call. (The first reading records the keys in the
        // store, which is a change of its own: one more reading follows.)
        snapshot->settings = readSettings(profile);
        snapshot->store = &profile;
        snapshot->changes = changes;
    }
    m_settings = &snapshot->settings;
}
