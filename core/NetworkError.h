#pragma once

#include "core/Error.h"

#include <string>

namespace vantrel {

/** Failures of network exchanges: domain kNetworkErrorDomain with one of these codes. */
inline constexpr const char* kNetworkErrorDomain = "vantrel.network";

namespace NetworkError {
inline constexpr int kCancelled = -999;
inline constexpr int kBadUrl = -1000;
inline constexpr int kTimedOut = -1001;
inline constexpr int kUnsupportedUrl = -1002;
inline constexpr int kCannotFindHost = -1003;
inline constexpr int kCannotConnectToHost = -1004;
inline constexpr int kConnectionLost = -1005;
inline constexpr int kNotConnectedToInternet = -1009;
inline constexpr int kBadServerResponse = -1011;
inline constexpr int kCannotDecodeContent = -1016;
inline constexpr int kResponseTooLarge = -1103;
inline constexpr int kSecureConnectionFailed = -1200;
inline constexpr int kServerCertificateUntrusted = -1202;
} // namespace NetworkError

inline Error networkError(int code, std::string description)
{
    return Error{kNetworkErrorDomain, code, std::move(description), nullptr};
}

} // namespace vantrel
