#pragma once

#include "core/DevicePortAssociation.h"
#include "core/RESTShellUser.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace vantrel {

/** The stored settings record shared by the application, the daemon and the finalizer. */
struct SettingsMessage {
    JsonField stnAuthToken; ///< sign-in token; absent or empty when nobody is signed in
    std::vector<DevicePortAssociation> stnAssociations; ///< carried through unchanged
    std::optional<RESTShellUser> stnUser;
    std::int32_t stnForwardsCreated = 0;
    std::int32_t stnForwardsRemoved = 0;
    std::int32_t stnForwardsChanged = 0;
    std::optional<std::chrono::system_clock::time_point> stnSessionStarted;
    JsonField stnInstallationToTrack; ///< serial number of an installation still to be reported
    JsonField stnVantrelAppChanged;   ///< sign-in announcement: 0 nothing, 1 signed in, 2 signed out
    JsonField stnVersionToUpgrade;    ///< newer application version offered for download

    /** The record held by a dictionary; an absent or non-object dictionary gives every field its default. */
    static SettingsMessage createFromDict(const Json& dictionary);
    Json toDictionary() const;
};

} // namespace vantrel
