#include "inventory/restore_plan.h"

namespace varnix {

TResult<TProfile> RestoreProfile(const TSnapshot& snapshot) {
    // Written and read back through the profile format, so the values pass the same checks as a
    // profile file's: a stored value the catalogue no longer accepts is refused here, not sent.
    QStringList errors;
    const auto profile = ReadProfile(
        WriteProfile(snapshot.Settings(), TProfileSource{snapshot.Info.Mac, QString(), QString()}), &errors);
    if (!profile)
        return TError{{},
                      {},
                      QStringLiteral("snapshot %1: %2")
                          .arg(snapshot.Info.Id)
                          .arg(errors.join(QStringLiteral("; ")))
                          .toStdString()};
    return *profile;
}

TRestoreSelection SelectRestore(const TProfile& profile, const TModuleSettings& target, bool withMac) {
    TRestoreSelection out;
    out.OtherFamily = profile.Family != FamilyUnknown && profile.Family != target.Family;
    TProfileApplication a = SelectForModule(profile, target, true);
    out.Skipped = std::move(a.Skipped);
    if (!withMac)
        a.Applied.removeIf([](const TAssignment& x) { return x.Field->Name == QLatin1String("UserMAC"); });
    out.Applied = std::move(a.Applied);
    return out;
}

} // namespace varnix
