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

const Source<TextSetting> markSources[DisplaySettings::MarkCount] = {
    {&Profile::manual_input_flag, "manual_input_flag"},
    {&Profile::dilution_result_flag, "dilution_result_flag"},
    {&Profile::lower_report_limit_flag, "lower_report_limit_flag"},
    {&Profile::upper_report_limit_flag, "upper_report_limit_flag"},
    {&Profile::lower_mark_limit_flag, "lower_mark_limit_flag"},
    {&Profile::upper_mark_limit_flag, "upper_mark_limit_flag"},
};

const Source<ColourSetting> colourSources[DisplaySettings::ColourCount] = {
    {&Profile::color_of_null_result, "color_of_null_result"},
    {&Profile::color_of_upper_report, "color_of_upper_report"},
    {&Profile::color_of_lower_report, "color_of_lower_report"},
    {&Profile::color_of_upper_mark, "color_of_upper_mark"},
    {&Profile::color_of_lower_mark, "color_of_lower_mark"},
};

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
    settings.notClotted = read<QString>(
        profile, Source<TextSetting>{&Profile::result_not_clotted, "result_not_clotted"});
    settings.noResult = read<QString>(profile,
                                      Source<TextSetting>{&Profile::result_can_not_be_calculated,
                                                          "result_can_not_be_calculated"});
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
