#pragma once

#include <QString>

namespace varlo {

// Registers Varlo to start at login through an XDG autostart entry,
// <config>/autostart/<appId>.desktop, whose Exec is Varlo's own executable.
class LoginItem
{
public:
    // Outcome of a registration change; `error` is a sentence for the user.
    struct Result
    {
        bool ok = true;
        QString error;

        static Result success() { return {}; }
        static Result failure(QString text) { return {false, std::move(text)}; }
    };

    // The user's config folder ($XDG_CONFIG_HOME) and the running executable.
    LoginItem();
    LoginItem(QString configFolder, QString executablePath);

    // Writes the entry (enabled) or removes it (disabled). Nothing else changes.
    [[nodiscard]] Result setEnabled(bool enabled) const;

    // True exactly when our entry exists and is not switched off
    // by Hidden=true or X-GNOME-Autostart-enabled=false.
    bool isEnabled() const;

    QString entryPath() const;

    // The Exec value that starts `executablePath`, quoted and escaped for a desktop entry.
    static QString execValue(const QString& executablePath);

private:
    Result enable() const;
    Result disable() const;

    QString m_configFolder;
    QString m_executablePath;
};

} // namespace varlo
