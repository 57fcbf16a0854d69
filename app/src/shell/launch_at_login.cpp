#include <brisalune/app/shell/launch_at_login.hpp>

#include <brisalune/platform/defaults.hpp>

#include <QSaveFile>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <utility>

namespace brisalune {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view group = "[Desktop Entry]";

// One argument of an Exec key: quoted, with the characters the quoting reserves escaped, and
// "%" doubled so that it is no field code.
std::string quotedArgument(std::string_view argument) {
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    return quoted + '"';
}

// A value of type string: backslash, newline, tab and carriage return escaped. Applied after
// the quoting, since readers undo it first.
std::string escapedValue(std::string_view value) {
    std::string escaped;
    for (char c : value) {
        switch (c) {
            case '\\': escaped += "\\\\"; break;
            case '\n': escaped += "\\n"; break;
            case '\t': escaped += "\\t"; break;
            case '\r': escaped += "\\r"; break;
            default: escaped += c;
        }
    }
    return escaped;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The keys of the entry's main group; a repeated key keeps its last value.
std::map<std::string, std::string, std::less<>> mainGroup(std::istream& in) {
    std::map<std::string, std::string, std::less<>> keys;
    bool inMain = false;
    for (std::string line; std::getline(in, line);) {
        const std::string_view text = trimmed(line);
        if (text.empty() || text.starts_with('#')) continue;
        if (text.starts_with('[')) {
            inMain = text == group;
            continue;
        }
        const auto equals = text.find('=');
        if (!inMain || equals == std::string_view::npos) continue;
        keys[std::string(trimmed(text.substr(0, equals)))] = std::string(trimmed(text.substr(equals + 1)));
    }
    return keys;
}

std::string describe(std::string_view what, const fs::path& file, const std::string& reason) {
    return std::string(what) + " " + file.string() + ": " + reason;
}

constexpr std::string_view deletedMark = " (deleted)";

[[noreturn]] void refuse(const fs::path& where, std::string_view why) {
    throw std::runtime_error(
        "Launch at login stays off: " + where.string() + " " + std::string(why) +
        ", so the program started at login could be replaced. Install Brisalune where only you or the system "
        "can change it.");
}

// Refuses a path whose file or any folder above it someone else could change: owned by another
// user than root or this one, or writable by group or others. The sticky bit is no exception:
// in a folder such as /tmp, the person's own folder may be removed (a clean-up at boot), and
// anyone can then make one of its name with a program of their own in it.
void refuseReplaceablePath(const fs::path& path) {
    for (fs::path step = path;; step = step.parent_path()) {
        struct stat info {};
        if (::lstat(step.c_str(), &info) != 0)
            throw std::runtime_error(
                describe("Couldn't check", step, std::error_code(errno, std::generic_category()).message()));
        if (info.st_uid != 0 && info.st_uid != ::getuid()) refuse(step, "belongs to another user");
        const bool othersWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
        const bool sticky = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0;
        if (othersWrite && sticky)
            refuse(
                step,
                "is a folder other users can create files in: once your own file or folder there is gone, one of "
                "them could make another of the same name");
        if (othersWrite && !S_ISLNK(info.st_mode)) refuse(step, "can be changed by other users");
        if (step == step.root_path()) break;
    }
}

// The binary an autostart entry may start: the running one as it stands on disk, in a place
// only root or this user can change, reached by any of its names.
void refuseUnsafeExecutable(const fs::path& executable) {
    if (executable.empty() || !executable.is_absolute())
        throw std::runtime_error("The running program's location is unknown.");
    if (executable.string().ends_with(deletedMark))
        throw std::runtime_error(
            "Brisalune was updated or removed while it runs, so its program file is gone. Quit Brisalune, start "
            "it again, then turn on Launch at login.");
    refuseReplaceablePath(executable.lexically_normal());
    std::error_code error;
    const fs::path resolved = fs::canonical(executable, error);
    if (error) throw std::runtime_error(describe("Couldn't find", executable, error.message()));
    if (resolved != executable.lexically_normal()) refuseReplaceablePath(resolved);
}

}  // namespace

LaunchAtLogin::LaunchAtLogin(QObject* parent) : LaunchAtLogin(standardEntryFile(), runningExecutable(), parent) {}

LaunchAtLogin::LaunchAtLogin(fs::path entryFile, fs::path executable, QObject* parent)
    : QObject(parent), entryFile_(std::move(entryFile)), executable_(std::move(executable)) {
    isEnabled_ = readStatus();
}

fs::path LaunchAtLogin::standardEntryFile() {
    // The user defaults live in `<config home>/brisalune/`.
    return platform::Defaults::standardFile().parent_path().parent_path() / "autostart" / "brisalune.desktop";
}

fs::path LaunchAtLogin::runningExecutable(const fs::path& link) {
    std::error_code error;
    fs::path binary = fs::read_symlink(link, error);
    return error ? fs::path() : binary;
}

std::string LaunchAtLogin::entryText() const {
    return std::string(group) +
           "\n"
           "Type=Application\n"
           "Name=Brisalune\n"
           "Comment=Open alerts in the tray\n"
           "Exec=" +
           escapedValue(quotedArgument(executable_.string())) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n"
           // LXQt's session starts it once its panel's tray is there. (Plasma starts entries
           // after its panel anyway, and GNOME reads no delay key any more; the app also takes
           // a tray that comes up later.)
           "X-LXQt-Need-Tray=true\n";
}

void LaunchAtLogin::setEnabled(bool wanted) {
    try {
        if (wanted) {
            writeEntry();
        } else {
            removeEntry();
        }
        setError(std::nullopt);
    } catch (const std::exception& failure) {
        setError(failure.what());
    }
    setIsEnabled(readStatus());
}

// Enabled when the entry starts this binary and nobody switched it off in the desktop's settings.
bool LaunchAtLogin::readStatus() const {
    std::ifstream in(entryFile_);
    if (!in || executable_.empty()) return false;
    const auto keys = mainGroup(in);
    const auto value = [&](std::string_view key) {
        const auto found = keys.find(key);
        return found == keys.end() ? std::string() : found->second;
    };
    return value("Exec") == escapedValue(quotedArgument(executable_.string())) && value("Hidden") != "true" &&
           value("X-GNOME-Autostart-enabled") != "false";
}

void LaunchAtLogin::writeEntry() const {
    refuseUnsafeExecutable(executable_);
    std::error_code error;
    fs::create_directories(entryFile_.parent_path(), error);
    if (error) throw std::runtime_error(describe("Couldn't make", entryFile_.parent_path(), error.message()));
    QSaveFile file(QString::fromStdString(entryFile_.string()));
    const std::string text = entryText();
    if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), static_cast<qint64>(text.size())) < 0 ||
        !file.commit()) {
        throw std::runtime_error(describe("Couldn't write", entryFile_, file.errorString().toStdString()));
    }
}

void LaunchAtLogin::removeEntry() const {
    std::error_code error;
    fs::remove(entryFile_, error);  // an entry that is not there is already off
    if (error) throw std::runtime_error(describe("Couldn't remove", entryFile_, error.message()));
}

void LaunchAtLogin::setIsEnabled(bool value) {
    if (value == isEnabled_) return;
    isEnabled_ = value;
    emit isEnabledChanged(value);
}

void LaunchAtLogin::setError(std::optional<std::string> value) {
    if (value == error_) return;
    error_ = std::move(value);
    emit errorChanged();
}

}  // namespace brisalune
