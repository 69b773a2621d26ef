#include "core/Deployment.h"

#include "platform/Environment.h"

namespace vantrel::deployment {

const char* const kAnalyticsWriteKey =
    "F4399CD46D6F6A4FB4298B91B8954659FFBDCF6CA29F77FA829B607E9CAD6E4D252898E787107DC66A07872BE8BDB992"
    "1C9C24CBF36716310A80157FE770B4A34DF90079F78B5944DFF3A4439241ECC7A9627FB28BC1046B8A2005F4A234C1E8";
const char* const kAnalyticsReadKey =
    "C0E734D5A347694BF3ED97AE97693758E150251BCD8B85C89D3645F01620AC5E14150D2FB4C9B0AD440C12B9404C75EA"
    "987AAE2114F2C3B4A5E355128868A5F635A7521410C9DFF51BDD076C3A49317505ADBF3D8ACFAA08EEF3ADCFB55E7608";

std::string serviceBaseUrl(bool testEnvironment)
{
    if (auto configured = platform::environmentValue("VANTREL_SERVICE_URL")) {
        return *configured;
    }
    return std::string("https://apps.") + (testEnvironment ? kTestServiceDomain : kServiceDomain) + "/";
}

std::string webBaseUrl()
{
    return platform::environmentValue("VANTREL_WEB_URL").value_or(std::string("https://www.") + kServiceDomain + "/");
}

std::string rpcUrl()
{
    return platform::environmentValue("VANTREL_RPC_URL")
        .value_or(std::string("https://www.") + kServiceDomain + "/jsonrpc/v2/");
}

std::string relayBaseUrl(bool testEnvironment)
{
    return platform::environmentValue("VANTREL_RELAY_URL").value_or(testEnvironment ? M2M_URL_DEV : M2M_URL);
}

std::string releaseSiteUrl()
{
    return platform::environmentValue("VANTREL_RELEASE_URL").value_or("https://releases.corvane.com/");
}

std::string analyticsUrl()
{
    return platform::environmentValue("VANTREL_ANALYTICS_URL")
        .value_or(std::string("https://analytics.corvane.com/3.0/projects/") + kAnalyticsProjectId + "/events");
}

std::optional<std::string> extraCaFile()
{
    return platform::environmentValue("VANTREL_CA_FILE");
}

std::optional<std::string> busAddress()
{
    return platform::environmentValue("VANTREL_BUS_ADDRESS");
}

} // namespace vantrel::deployment
