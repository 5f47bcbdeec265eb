#include "scan/CapabilityPolicy.h"

#include "scan/TwainComponent.h"
#include "scan/TwainConstants.h"

namespace pagewren {

namespace {

constexpr int kBitDepth = 8;
constexpr double kResolution = 300.0;

} // namespace

void NegotiateScanCapabilities(TwainComponent& twain)
{
    if (twain.IsCapSupported(twain::ICAP_PIXELTYPE) && twain.GetPixelType() != twain::TWPT_RGB)
        twain.SetPixelType(twain::TWPT_RGB);
    if (twain.IsCapSupported(twain::ICAP_BITDEPTH) && twain.GetBitDepth() != kBitDepth)
        twain.SetBitDepth(kBitDepth);
    if (twain.IsCapSupported(twain::ICAP_XRESOLUTION) && twain.GetXResolution() != kResolution)
        twain.SetXResolution(kResolution);
    if (twain.IsCapSupported(twain::ICAP_YRESOLUTION) && twain.GetYResolution() != kResolution)
        twain.SetYResolution(kResolution);
}

bool PaperCheckCancels(TwainComponent& twain)
{
    return twain.GetPaperDetectable() && !twain.GetFeederLoaded();
}

bool RequestFeeder(TwainComponent& twain)
{
    twain.SetAutoScan(true);
    twain.SetFeederEnabled(true);
    return twain.SetAutoFeed(true);
}

} // namespace pagewren
