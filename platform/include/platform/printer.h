// Printer information through the print service (CUPS): what the spooler
// calls OpenPrinter, DocumentProperties, DeviceCapabilities, EnumJobs,
// SetJob(JOB_CONTROL_DELETE) and the default printer give on Windows.
//
// A printer is a CUPS queue; its PPD and default options make its default
// device mode and its paper and bin lists. Paper codes are the Windows paper
// codes (1 Letter, 9 A4, ...) for the sizes that have one, and 256 upward,
// in list order, for any other size. Bin codes likewise (7 automatic, 1
// upper, 2 lower, ..., 256 upward for the rest).
//
// The server is the one libcups finds (CUPS_SERVER, client.conf, the
// default socket). A missing queue, or no server, cannot be opened.
#pragma once

#include "platform/syserror.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// The fields of DEVMODE the programs read (16-bit signed, as there).
struct DeviceMode {
    std::int16_t printQuality = 0;  // horizontal resolution, dots per inch
    std::int16_t yResolution = 0;
    std::int16_t orientation = 1;  // 1 portrait, 2 landscape
    std::int16_t paperSize = 0;    // paper code
    std::int16_t copies = 1;
    std::int16_t collate = 0;        // 1 collated
    std::int16_t defaultSource = 7;  // bin code (7: automatic)
    std::string formName;            // the paper's name
};

struct PaperInfo {
    std::int16_t code = 0;
    std::string name;  // as the queue names it ("A4", "Letter", ...)
    std::int32_t width = 0, length = 0;  // tenths of a millimetre
};

// A spooler form: a paper size of the user's, kept in the registry (HKLM
// "Software\Vellumate\Forms", a key per form with DWORD "Width" and
// "Length" in thousandths of a millimetre). Every printer lists the forms
// after its own papers; they are the user forms that may be deleted.
struct FormInfo {
    std::string name;
    std::uint32_t width = 0, length = 0;  // thousandths of a millimetre
};
inline constexpr char kFormsKey[] = "Software\\Vellumate\\Forms";
inline constexpr std::size_t kMaxFormName = 31;

// The forms in the order the registry lists them.
std::vector<FormInfo> EnumForms();
// Fails with ERROR_FILE_EXISTS for a name in use (forms or not), with
// ERROR_INVALID_PARAMETER for an empty or too long name, a size of zero
// or a name with a backslash, and with the registry's error when it cannot
// write. Either the whole form is written or none of it.
bool AddForm(const FormInfo& form);
// Fails with ERROR_FILE_NOT_FOUND when no form has that name.
bool DeleteForm(std::string_view name);

// What SetDefaults changes in a queue's defaults; unset fields stay.
struct DefaultChanges {
    std::int16_t orientation = 0;  // 1 portrait, 2 landscape
    std::int16_t xResolution = 0, yResolution = 0;  // one of Resolutions()
    std::int16_t paperSize = 0;  // a code of Papers()
};

struct BinInfo {
    std::int16_t code = 0;
    std::string name;
};

constexpr std::uint32_t JOB_STATUS_PRINTED = 0x80;

struct JobInfo {
    int id = 0;
    std::uint32_t status = 0;  // JOB_STATUS_* bits (PRINTED once CUPS has completed it)
    std::string user, title;
};

class Printer {
public:
    // Null with GetLastError ERROR_INVALID_PRINTER_NAME (no such queue) or
    // RPC_S_SERVER_UNAVAILABLE (no print service).
    static std::unique_ptr<Printer> Open(std::string_view name);
    ~Printer();
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;

    const std::string& Name() const;
    // False when the queue has no PPD to read the defaults from.
    bool DefaultDeviceMode(DeviceMode* mode);
    std::vector<PaperInfo> Papers();
    std::vector<BinInfo> Bins();
    // The resolutions the PPD offers, x and y in dots per inch.
    std::vector<std::pair<int, int>> Resolutions();
    // Writes the queue's defaults in one request to the print service (the
    // PPD's default lines and the queue's options), so that a failure
    // leaves them all as they were. ERROR_INVALID_PARAMETER for a
    // resolution or paper the queue does not list; ERROR_ACCESS_DENIED or
    // RPC_S_SERVER_UNAVAILABLE when the service refuses or is gone.
    bool SetDefaults(const DefaultChanges& changes);
    // Up to `max` jobs, oldest first (every user's, completed ones too).
    std::vector<JobInfo> Jobs(std::size_t max);
    bool DeleteJob(int id);

    struct Members;

private:
    explicit Printer(std::unique_ptr<Members> m);
    std::unique_ptr<Members> m_;
};

// The user's default printer ("" when there is none) and setting it (the
// user's lpoptions, as `lpoptions -d` writes them). SetDefaultPrinter fails
// for a queue that does not exist; an empty name leaves the user without a
// default (the print service's own default applies again).
std::string GetDefaultPrinter();
bool SetDefaultPrinter(std::string_view name);

// Forgets the print service libcups found and its connection, so that the
// next call looks at CUPS_SERVER again (tests that start their own service).
void ResetPrintService();

// The Windows paper code for a PPD size name ("A4" -> 9), 0 when it has none.
std::int16_t PaperCodeOfName(std::string_view ppdName);

}  // namespace platform
