#pragma once

namespace pagewren {

class TwainComponent;

// What the scanner session asks of a source, as small steps over the component's capability
// accessors. Each needs the source open and reachable (no acquisition running, or called from
// inside an event handler).

// RGB, then 8 bits, then 300 dpi across and down; a value is set only when the source supports
// the capability and its current value differs.
void NegotiateScanCapabilities(TwainComponent& twain);

// True when the source can detect paper and its feeder holds none: the scan must be cancelled.
bool PaperCheckCancels(TwainComponent& twain);

// Auto-scan, feeder enabled and auto-feed, in that order; the result is whether auto-feed could
// be set. The component keeps what it found of the feeder in FeederEnabledState.
bool RequestFeeder(TwainComponent& twain);

} // namespace pagewren
