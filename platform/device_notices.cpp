#include "platform/device_notices.h"

namespace notices {
// Placeholder until device notices land.
DeviceNoticeSource::~DeviceNoticeSource() = default;
bool DeviceNoticeSource::Open(const std::string&, bool, SourceError*) { return true; }
std::vector<DeviceNotice> DeviceNoticeSource::ReadNotices() { return {}; }
}  // namespace notices
