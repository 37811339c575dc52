#include "../openfailure.h"

#include "../portdiscovery.h"
#include "../syserror.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr size_t g_nMaxHolders = 5;

std::string ProcessName(int nPid)
{
    std::ifstream in("/proc/" + std::to_string(nPid) + "/comm");
    std::string strName;
    std::getline(in, strName);
    return SanitizedLabel(strName, 32);
}

unsigned ProcessUid(int nPid)
{
    struct stat st;
    return ::stat(("/proc/" + std::to_string(nPid)).c_str(), &st) == 0 ? st.st_uid : 0;
}

std::vector<int> ProcessIds()
{
    std::vector<int> pids;
    if (DIR* pDir = ::opendir("/proc")) {
        while (const dirent* pEntry = ::readdir(pDir)) {
            const int nPid = std::atoi(pEntry->d_name);
            if (nPid > 0)
                pids.push_back(nPid);
        }
        ::closedir(pDir);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

// Holders of a lock on the node, from /proc/locks ("1: FLOCK ADVISORY WRITE 812 00:05:611 0
// EOF"); it names processes of every user, which their open files do not.
std::vector<int> LockHolders(const struct stat& stNode)
{
    std::vector<int> pids;
    std::ifstream in("/proc/locks");
    std::string strLine;
    while (std::getline(in, strLine)) {
        std::istringstream fields(strLine);
        std::string strId, strKind, strMode, strAccess, strFile;
        int nPid = 0;
        if (!(fields >> strId >> strKind) || strKind == "->")
            continue;
        if (!(fields >> strMode >> strAccess >> nPid >> strFile) || nPid <= 0)
            continue;
        unsigned nMajor = 0, nMinor = 0;
        unsigned long long nInode = 0;
        if (std::sscanf(strFile.c_str(), "%x:%x:%llu", &nMajor, &nMinor, &nInode) == 3
            && nMajor == major(stNode.st_dev) && nMinor == minor(stNode.st_dev)
            && nInode == stNode.st_ino)
            pids.push_back(nPid);
    }
    return pids;
}

bool HasOpen(int nPid, dev_t nDevice)
{
    const std::string strFds = "/proc/" + std::to_string(nPid) + "/fd";
    DIR* pDir = ::opendir(strFds.c_str());
    if (!pDir)
        return false;
    bool bFound = false;
    while (const dirent* pEntry = ::readdir(pDir)) {
        struct stat st;
        if (pEntry->d_name[0] != '.' && ::stat((strFds + "/" + pEntry->d_name).c_str(), &st) == 0
            && S_ISCHR(st.st_mode) && st.st_rdev == nDevice) {
            bFound = true;
            break;
        }
    }
    ::closedir(pDir);
    return bFound;
}

int FindProcess(const std::string& strName)
{
    for (int nPid : ProcessIds()) {
        if (ProcessName(nPid) == strName)
            return nPid;
    }
    return 0;
}

std::string GroupName(gid_t nGid)
{
    if (const group* pGroup = ::getgrgid(nGid))
        return pGroup->gr_name;
    return std::to_string(nGid);
}

std::string UserName(uid_t nUid)
{
    if (const passwd* pUser = ::getpwuid(nUid))
        return pUser->pw_name;
    return std::to_string(nUid);
}

bool ProcessInGroup(gid_t nGid)
{
    if (::getegid() == nGid)
        return true;
    gid_t aGroups[256];
    const int nCount = ::getgroups(256, aGroups);
    return std::find(aGroups, aGroups + std::max(nCount, 0), nGid) != aGroups + std::max(nCount, 0);
}

// Member in the group database: joined, but maybe after this login began.
bool UserInGroup(gid_t nGid)
{
    const passwd* pUser = ::getpwuid(::geteuid());
    if (!pUser)
        return false;
    if (pUser->pw_gid == nGid)
        return true;
    std::vector<gid_t> groups(64);
    int nCount = static_cast<int>(groups.size());
    if (::getgrouplist(pUser->pw_name, pUser->pw_gid, groups.data(), &nCount) < 0) {
        groups.resize(static_cast<size_t>(std::max(nCount, 0)));
        if (::getgrouplist(pUser->pw_name, pUser->pw_gid, groups.data(), &nCount) < 0)
            return false;
    }
    return std::find(groups.begin(), groups.begin() + nCount, nGid) != groups.begin() + nCount;
}

std::string ModeText(mode_t nMode)
{
    char sz[8];
    std::snprintf(sz, sizeof sz, "%04o", static_cast<unsigned>(nMode & 07777));
    return sz;
}

void ExplainPermission(const std::string& strDevice, SOpenFailure& failure)
{
    struct stat st;
    if (::stat(strDevice.c_str(), &st) != 0) {
        failure.strReason = "permission denied: " + strDevice;
        return;
    }
    const std::string strGroup = GroupName(st.st_gid);
    const bool bGroupMay = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (bGroupMay && !ProcessInGroup(st.st_gid)) {
        if (UserInGroup(st.st_gid)) {
            failure.strReason = "permission denied: " + strDevice + " belongs to group " + strGroup
                + ", which you joined after this login began";
            failure.advice
                = { "log out and in again (or run 'newgrp " + strGroup + "' in this terminal)" };
        } else {
            failure.strReason = "permission denied: " + strDevice + " belongs to group " + strGroup
                + ", and you are not in it";
            failure.advice = { "join the group: sudo usermod -aG " + strGroup + " $USER",
                "then log out and in again" };
        }
        return;
    }
    failure.strReason = "permission denied: " + strDevice + " (owner " + UserName(st.st_uid)
        + ", group " + strGroup + ", mode " + ModeText(st.st_mode) + ") does not let you in";
    failure.advice = { "have it given to a group you are in, e.g. by a udev rule with "
                       "GROUP=\"dialout\", MODE=\"0660\"" };
}

void ExplainHeld(const std::string& strDevice, SOpenFailure& failure)
{
    const std::vector<SPortHolder> holders = PortHolders(strDevice);
    if (holders.empty()) {
        if (const int nPid = FindProcess("ModemManager")) {
            failure.strReason = strDevice + " is in use by another program, probably "
                + "ModemManager (pid " + std::to_string(nPid)
                + "), which tries every new modem-like device";
            failure.advice = { "stop it: sudo systemctl stop ModemManager" };
        } else {
            failure.strReason = strDevice + " is in use by another program";
            failure.advice = { "see which one: sudo fuser -v " + strDevice, "then quit it" };
        }
        return;
    }
    std::string strWho;
    for (const SPortHolder& holder : holders)
        strWho += (strWho.empty() ? "" : ", ") + holder.strName + " (pid "
            + std::to_string(holder.nPid) + ")";
    failure.strReason = strDevice + " is in use by " + strWho;
    const SPortHolder& first = holders.front();
    if (first.strName == "ModemManager") {
        failure.advice = { "ModemManager tries every new modem-like device; stop it: sudo "
                           "systemctl stop ModemManager",
            "or keep it off this device for good with a udev rule setting "
            "ENV{ID_MM_DEVICE_IGNORE}=\"1\"" };
    } else {
        const bool bOurs = first.nUid == ::geteuid();
        failure.advice = { "quit " + first.strName
            + ", or end it: " + (bOurs ? "kill " : "sudo kill ") + std::to_string(first.nPid) };
    }
}

void ExplainAbsent(const std::string& strName, const std::string& strDevice,
    const CPortRoots& roots, SOpenFailure& failure)
{
    struct stat st;
    const bool bLink = ::lstat(strDevice.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    const bool bThere = ::stat(strDevice.c_str(), &st) == 0;
    if (bLink && !bThere) {
        char szTarget[512] = {};
        const ssize_t n = ::readlink(strDevice.c_str(), szTarget, sizeof szTarget - 1);
        failure.strReason = strDevice + " leads to "
            + (n > 0 ? std::string(szTarget, static_cast<size_t>(n)) : std::string("nothing"))
            + ", which is not there";
    } else if (bThere) {
        failure.strReason = strDevice + " has no device behind it";
    } else {
        failure.strReason = strDevice + " is not there";
    }
    const std::vector<SSerialDevice> devices = DiscoverSerialDevices(roots);
    if (devices.empty()) {
        failure.advice = { "no serial device is there now: plug in the adapter (it shows as "
                           "ttyUSB or ttyACM)" };
        return;
    }
    failure.advice = { "it is unplugged, or has another name now" };
    for (const SSerialDevice& dev : devices)
        failure.present.emplace_back(
            dev.DisplayName(), dev.strById.empty() ? dev.strPath : dev.strById);
    // A COM name reaches an adapter through a link the operator makes once.
    const auto usb = std::find_if(
        devices.begin(), devices.end(), [](const SSerialDevice& dev) { return dev.IsUsb(); });
    if (ComPortNumber(strName) > 0 && usb != devices.end())
        failure.advice.push_back("to make " + strName + " reach " + usb->strName + ": mkdir -p "
            + roots.PortsDir() + " && ln -sf "
            + (usb->strById.empty() ? usb->strPath : usb->strById) + " " + roots.PortsDir() + "/"
            + strName);
}

} // namespace

std::vector<SPortHolder> PortHolders(const std::string& strDevice)
{
    std::vector<SPortHolder> holders;
    struct stat st;
    if (::stat(strDevice.c_str(), &st) != 0)
        return holders;
    std::vector<int> pids = LockHolders(st);
    if (S_ISCHR(st.st_mode)) {
        for (int nPid : ProcessIds()) {
            if (std::find(pids.begin(), pids.end(), nPid) == pids.end()
                && HasOpen(nPid, st.st_rdev))
                pids.push_back(nPid);
        }
    }
    for (int nPid : pids) {
        if (nPid == ::getpid() || holders.size() >= g_nMaxHolders)
            continue;
        const bool bSeen = std::any_of(holders.begin(), holders.end(),
            [nPid](const SPortHolder& holder) { return holder.nPid == nPid; });
        if (!bSeen)
            holders.push_back({ nPid, ProcessName(nPid), ProcessUid(nPid) });
    }
    return holders;
}

SOpenFailure ExplainOpenFailure(
    const std::string& strName, const std::string& strDevice, int nError, const CPortRoots& roots)
{
    SOpenFailure failure;
    switch (nError) {
    case EACCES:
    case EPERM:
        ExplainPermission(strDevice, failure);
        break;
    case EBUSY:
        ExplainHeld(strDevice, failure);
        break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        ExplainAbsent(strName, strDevice, roots, failure);
        break;
    case EIO:
        // A UART place with no chip behind it refuses this way.
        if (!FindSerialDevice(DiscoverSerialDevices(roots), strDevice)) {
            ExplainAbsent(strName, strDevice, roots, failure);
            break;
        }
        failure.strReason = strDevice + ": " + SystemErrorText(nError);
        break;
    case ENOTTY:
        failure.strReason = strDevice + " is not a serial device";
        break;
    default:
        failure.strReason = strDevice + ": " + SystemErrorText(nError);
        break;
    }
    return failure;
}
