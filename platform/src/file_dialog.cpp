// The file-open dialog: the command in $ORVA_FILE_DIALOG prints the chosen path
// (an empty answer or a failing command is a cancel); without it, zenity when a
// display is present; else the dialog is cancelled.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "orva/file_descriptor.h"
#include "orva/read_all.h"
#include "win32/errors.h"
#include "win32/window.h"

extern char** environ;

namespace {

thread_local DWORD extendedError = 0;

constexpr size_t kMaxAnswer = 64 * 1024;

class SpawnActions {
  public:
    SpawnActions() { posix_spawn_file_actions_init(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    posix_spawn_file_actions_t* get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
};

// Runs argv with no input and returns its standard output, or nothing when it
// could not run, failed, or said too much.
std::optional<std::string> runForAnswer(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    orva::FileDescriptor readEnd(fds[0]);
    orva::FileDescriptor writeEnd(fds[1]);

    SpawnActions actions;
    posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDOUT_FILENO);

    std::vector<char*> argv;
    for (const auto& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], actions.get(), nullptr, argv.data(), environ) != 0) {
        return std::nullopt;
    }
    writeEnd.reset();

    // Past the limit the pipe closes: the child ends rather than block on it.
    orva::ReadResult answer = orva::readAll<std::string>(readEnd.get(), kMaxAnswer);
    readEnd.reset();
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
    if (!answer || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return std::move(answer.data);
}

bool onPath(const char* program) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) {
        return false;
    }
    std::string dirs = path;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        std::string dir = dirs.substr(start, end - start);
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::optional<std::string> askForPath(const OPENFILENAMEA& ofn) {
    if (const char* command = std::getenv("ORVA_FILE_DIALOG"); command != nullptr && *command) {
        return runForAnswer({"/bin/sh", "-c", command});
    }
    const bool display = std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY");
    if (display && onPath("zenity")) {
        std::vector<std::string> args{"zenity", "--file-selection"};
        if (ofn.lpstrTitle != nullptr) {
            args.push_back(std::string("--title=") + ofn.lpstrTitle);
        }
        return runForAnswer(args);
    }
    return std::nullopt;
}

// The first line of the answer, without its line end.
std::string firstLine(const std::string& answer) {
    std::string line = answer.substr(0, answer.find('\n'));
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

bool acceptable(const std::string& path, DWORD flags) {
    if (path.empty() || path.find('\0') != std::string::npos) {
        return false;
    }
    struct stat st {};
    if ((flags & OFN_FILEMUSTEXIST) != 0 && stat(path.c_str(), &st) != 0) {
        return false;
    }
    if ((flags & OFN_PATHMUSTEXIST) != 0) {
        const size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
        if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            return false;
        }
    }
    return true;
}

BOOL openFileName(OPENFILENAMEA& ofn) {
    if (ofn.lpstrFile == nullptr || ofn.nMaxFile == 0) {
        extendedError = CDERR_INITIALIZATION;
        return FALSE;
    }
    // The dialog is modal: its owner is disabled while it is up.
    const bool ownerWasEnabled = ofn.hwndOwner != nullptr && IsWindowEnabled(ofn.hwndOwner);
    if (ownerWasEnabled) {
        EnableWindow(ofn.hwndOwner, FALSE);
    }
    const std::optional<std::string> answer = askForPath(ofn);
    if (ownerWasEnabled) {
        EnableWindow(ofn.hwndOwner, TRUE);
    }
    if (!answer) {
        return FALSE;  // cancelled
    }
    const std::string path = firstLine(*answer);
    if (!acceptable(path, ofn.Flags)) {
        return FALSE;  // a real dialog would not let this path through
    }
    if (path.size() >= ofn.nMaxFile || path.size() > 0xFFFF) {
        // Windows puts the size needed in the buffer's first two bytes.
        if (ofn.nMaxFile >= 2) {
            const WORD needed = static_cast<WORD>(std::min<size_t>(path.size() + 1, 0xFFFF));
            std::memcpy(ofn.lpstrFile, &needed, sizeof needed);
        }
        extendedError = FNERR_BUFFERTOOSMALL;
        return FALSE;
    }
    std::memcpy(ofn.lpstrFile, path.c_str(), path.size() + 1);

    const size_t slash = path.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.rfind('.');
    ofn.nFileOffset = static_cast<WORD>(nameStart);
    ofn.nFileExtension =
        static_cast<WORD>(dot != std::string::npos && dot >= nameStart ? dot + 1 : path.size());
    if (ofn.lpstrFileTitle != nullptr && ofn.nMaxFileTitle > path.size() - nameStart) {
        std::memcpy(ofn.lpstrFileTitle, path.c_str() + nameStart, path.size() - nameStart + 1);
    }
    return TRUE;
}

}  // namespace

ORVA_API_ENTRY BOOL GetOpenFileNameA(LPOPENFILENAMEA lpofn) {
    extendedError = 0;
    if (lpofn == nullptr || lpofn->lStructSize != sizeof(OPENFILENAMEA)) {
        extendedError = CDERR_STRUCTSIZE;
        return FALSE;
    }
    try {
        return openFileName(*lpofn);
    } catch (...) {
        extendedError = CDERR_INITIALIZATION;
        return FALSE;
    }
}

ORVA_API_ENTRY DWORD CommDlgExtendedError(void) {
    return extendedError;
}
