#include "tests/support/MediaMaker.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

extern char** environ;

namespace mediamaker {

int Run(const std::vector<std::string>& arguments, std::string* pOutput) {
    if (arguments.empty())
        return -1;
    std::vector<char*> argv;
    for (const std::string& strArgument : arguments)
        argv.push_back(const_cast<char*>(strArgument.c_str()));
    argv.push_back(nullptr);
    // Close-on-exec, so that a program another thread starts meanwhile does not hold the pipe.
    int pipeFds[2] = {-1, -1};
    if (pOutput && pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (pOutput)
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    pid_t pid = 0;
    const int nSpawn = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (pOutput) {
        close(pipeFds[1]);
        if (nSpawn == 0) {
            char buffer[65536];
            for (ssize_t nRead; (nRead = read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
                if (nRead > 0)
                    pOutput->append(buffer, static_cast<size_t>(nRead));
                else if (errno != EINTR)
                    break;
            }
        }
        close(pipeFds[0]);
    }
    if (nSpawn != 0)
        return -1;
    int nStatus = 0;
    while (waitpid(pid, &nStatus, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

std::vector<std::string> Words(const std::string& strLine) {
    std::vector<std::string> words;
    std::istringstream in(strLine);
    for (std::string strWord; in >> strWord;)
        words.push_back(strWord);
    return words;
}

std::vector<uint8_t> Ffmpeg(const std::vector<std::string>& arguments,
                            const std::string& strOutput) {
    std::vector<std::string> command = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    command.push_back(strOutput);
    if (Run(command) != 0)
        return {};
    return ReadBytes(strOutput);
}

std::vector<uint8_t> ReadBytes(const std::string& strPath) {
    std::vector<uint8_t> bytes;
    if (FILE* pFile = std::fopen(strPath.c_str(), "rb")) {
        uint8_t buffer[65536];
        for (size_t nRead; (nRead = std::fread(buffer, 1, sizeof buffer, pFile)) > 0;)
            bytes.insert(bytes.end(), buffer, buffer + nRead);
        std::fclose(pFile);
    }
    return bytes;
}

bool WriteBytes(const std::string& strPath, const std::vector<uint8_t>& bytes) {
    FILE* pFile = std::fopen(strPath.c_str(), "wb");
    if (!pFile)
        return false;
    const bool bWritten = std::fwrite(bytes.data(), 1, bytes.size(), pFile) == bytes.size();
    return std::fclose(pFile) == 0 && bWritten;
}

bool FileExists(const std::string& strPath) {
    struct stat info;
    return stat(strPath.c_str(), &info) == 0;
}

bool FolderEmpty(const std::string& strPath) {
    DIR* pDir = opendir(strPath.c_str());
    if (!pDir)
        return false;
    bool bEmpty = true;
    while (const dirent* pEntry = readdir(pDir))
        bEmpty = bEmpty && pEntry->d_name[0] == '.';
    closedir(pDir);
    return bEmpty;
}

std::vector<CBox> TopBoxes(const std::vector<uint8_t>& bytes) {
    CMemoryByteSource source(bytes.data(), bytes.size());
    CBoxWalk walk(source, 0, bytes.size());
    std::vector<CBox> boxes;
    for (CBox box; walk.Next(&box);)
        boxes.push_back(box);
    return boxes;
}

std::vector<uint8_t> CutBeforeIndex(const std::vector<uint8_t>& whole, double dFraction) {
    const std::vector<CBox> boxes = TopBoxes(whole);
    for (const CBox& mdat : boxes) {
        if (mdat.nType != FourCC("mdat"))
            continue;
        std::vector<uint8_t> cut;
        for (const CBox& before : boxes) {
            if (before.nOffset < mdat.nOffset && before.nType != FourCC("moov"))
                cut.insert(cut.end(), whole.begin() + std::ptrdiff_t(before.nOffset),
                           whole.begin() + std::ptrdiff_t(before.End()));
        }
        const uint8_t kHeader[8] = {0, 0, 0, 0, 'm', 'd', 'a', 't'};
        cut.insert(cut.end(), kHeader, kHeader + sizeof kHeader);
        const uint64_t nKeep = std::min<uint64_t>(
            static_cast<uint64_t>(double(mdat.PayloadSize()) * dFraction), mdat.PayloadSize());
        cut.insert(cut.end(), whole.begin() + std::ptrdiff_t(mdat.PayloadOffset()),
                   whole.begin() + std::ptrdiff_t(mdat.PayloadOffset() + nKeep));
        return cut;
    }
    return {};
}

} // namespace mediamaker
