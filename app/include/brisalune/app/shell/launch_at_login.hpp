#pragma once

// The "Launch at login" switch: an XDG autostart entry that starts this binary when the user
// logs in. `isEnabled` follows the entry as last read (at creation and after every change);
// `error` holds the text of the last failed change. Signals fire only on a real change.
// Main thread only.

#include <QObject>

#include <filesystem>
#include <optional>
#include <string>

namespace brisalune {

class LaunchAtLogin : public QObject {
    Q_OBJECT

public:
    // The standard entry, starting the running binary.
    explicit LaunchAtLogin(QObject* parent = nullptr);
    LaunchAtLogin(std::filesystem::path entryFile, std::filesystem::path executable, QObject* parent = nullptr);

    // `$XDG_CONFIG_HOME/autostart/brisalune.desktop`, else under `$HOME/.config`.
    static std::filesystem::path standardEntryFile();
    // The installed binary that runs now, as the kernel names it behind `link`: it ends in
    // " (deleted)" once an upgrade replaced or removed the file. Empty when unreadable.
    static std::filesystem::path runningExecutable(const std::filesystem::path& link = "/proc/self/exe");

    bool isEnabled() const noexcept { return isEnabled_; }
    const std::optional<std::string>& error() const noexcept { return error_; }

    // Writes (true) or removes (false) the entry; a failure lands in `error`, a success clears
    // it, and `isEnabled` is read back from the entry either way. Throws nothing. Refuses to
    // write an entry for a binary that is gone (" (deleted)") or that someone else could
    // replace: the file or a folder above it owned by another user than root or this one, or
    // writable by group or others, a sticky folder such as /tmp included (a name of this user's
    // there may be taken by anyone once it is gone); the text says which and why.
    void setEnabled(bool wanted);

    // The entry's text for this executable.
    std::string entryText() const;

signals:
    void isEnabledChanged(bool isEnabled);
    void errorChanged();

private:
    bool readStatus() const;
    void writeEntry() const;
    void removeEntry() const;
    void setIsEnabled(bool value);
    void setError(std::optional<std::string> value);

    std::filesystem::path entryFile_;
    std::filesystem::path executable_;
    bool isEnabled_ = false;
    std::optional<std::string> error_;
};

}  // namespace brisalune
