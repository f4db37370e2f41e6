#pragma once
// The record, kept across runs, of a PIN that is being set to the temporary PIN: one small
// file per token in the state directory, written before the change (fsync and rename) and
// removed once the PIN is back. A run killed meanwhile leaves it for the next run.
#include <optional>
#include <string>

#include <p11-kit/pkcs11.h>

class CPinJournal {
public:
    struct Entry {
        std::string serial;
        std::string label;
        CK_USER_TYPE userType = CKU_USER;
        std::string temporaryPin;
    };

    explicit CPinJournal(std::string directory);

    // Throws CustomException when the record cannot be made durable.
    void Record(const Entry& entry) const;
    void Clear(const std::string& serial) const;
    // The record of the token with this serial number and label, if there is one.
    std::optional<Entry> Find(const std::string& serial, const std::string& label) const;

    std::string FileOf(const std::string& serial) const;

private:
    void SyncDirectory() const;

    std::string m_directory;
};
