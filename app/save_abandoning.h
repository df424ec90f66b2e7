#pragma once

// A dialog whose Save waits for the server. Its close command during that
// wait abandons the save and cancels the dialog, instead of ending the
// application as the main window's close does.
class SaveAbandoning
{
public:
    // Abandons the dialog's save when one waits; false when none does.
    virtual bool AbandonSave() = 0;
    // True when the dialog's last showing ended by an abandoned save, so
    // that the caller reloads what the save may or may not have changed.
    virtual bool SaveAbandoned() const = 0;

protected:
    ~SaveAbandoning() = default;
};
