#include "ModuleInfo.h"

void ModuleInfo::setVersions(std::uint32_t cpuMajor, std::uint32_t cpuMinor,
                             std::uint32_t fpgaMajor, std::uint32_t fpgaMinor)
{
    mCpuVersion = QStringLiteral("%1.%2").arg(cpuMajor).arg(cpuMinor);
    mFpgaVersion = QStringLiteral("%1.%2").arg(fpgaMajor).arg(fpgaMinor);
}
