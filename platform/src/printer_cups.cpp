// Printer information from CUPS. The PPD functions are the ones that give a
// queue's own paper and bin lists with its defaults; libcups marks them
// deprecated, but they are the API CUPS itself reads PPDs with.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

#include "platform/printer.h"

#include "platform/registry.h"
#include "platform/text.h"

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/pwg.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <span>
#include <utility>

namespace platform {

namespace {

struct NamedCode {
    const char* name;
    std::int16_t code;
};

// PPD size names (Adobe's standard names) and their Windows paper codes.
constexpr NamedCode kPaperCodes[] = {
    {"Letter", 1},         {"LetterSmall", 2},  {"Tabloid", 3},        {"Ledger", 4},
    {"Legal", 5},          {"Statement", 6},    {"Executive", 7},      {"A3", 8},
    {"A4", 9},             {"A4Small", 10},     {"A5", 11},            {"B4", 12},
    {"B5", 13},            {"Folio", 14},       {"Quarto", 15},        {"10x14", 16},
    {"11x17", 17},         {"Note", 18},        {"Env9", 19},          {"Env10", 20},
    {"Env11", 21},         {"Env12", 22},       {"Env14", 23},         {"ARCHC", 24},
    {"ARCHD", 25},         {"ARCHE", 26},       {"EnvDL", 27},         {"EnvC5", 28},
    {"EnvC3", 29},         {"EnvC4", 30},       {"EnvC6", 31},         {"EnvC65", 32},
    {"EnvISOB4", 33},      {"EnvISOB5", 34},    {"EnvISOB6", 35},      {"EnvItalian", 36},
    {"EnvMonarch", 37},    {"EnvPersonal", 38}, {"FanFoldUS", 39},     {"FanFoldGerman", 40},
    {"FanFoldGermanLegal", 41}, {"ISOB4", 42},  {"Postcard", 43},      {"9x11", 44},
    {"10x11", 45},         {"15x11", 46},       {"EnvInvite", 47},     {"A2", 66},
    {"A3Extra", 63},       {"A4Extra", 53},     {"A5Extra", 64},       {"ISOB5Extra", 65},
    {"A6", 70},            {"DoublePostcard", 69}, {"B6", 88},         {"12x11", 90},
};

// InputSlot names and the Windows bin codes.
constexpr NamedCode kBinCodes[] = {
    {"Upper", 1},     {"OnlyOne", 1},     {"Lower", 2},     {"Middle", 3},       {"Manual", 4},
    {"ManualFeed", 4}, {"Envelope", 5},   {"EnvManual", 6}, {"Auto", 7},         {"AutoSelect", 7},
    {"Default", 7},   {"Tractor", 8},     {"SmallFormat", 9}, {"LargeFormat", 10}, {"LargeCapacity", 11},
    {"Cassette", 14}, {"FormSource", 15},
};

std::int16_t CodeOf(std::span<const NamedCode> table, std::string_view name) {
    for (const auto& e : table)
        if (EqualsNoCase(e.name, name)) return e.code;
    return 0;
}

std::int32_t TenthsOfMm(float points) { return static_cast<std::int32_t>(std::lround(points * 254.0 / 72.0)); }

std::int16_t Clamp16(long v) { return static_cast<std::int16_t>(std::clamp<long>(v, -32768, 32767)); }

}  // namespace

std::int16_t PaperCodeOfName(std::string_view ppdName) { return CodeOf(kPaperCodes, ppdName); }

struct Printer::Members {
    std::string name;
    cups_dest_t* dest = nullptr;
    ppd_file_t* ppd = nullptr;
    bool ppdTried = false;
    std::vector<PaperInfo> papers;
    std::vector<std::string> paperKeys;  // the PPD's size names, beside papers
    std::vector<BinInfo> bins;
    std::vector<std::string> binKeys;
    std::int16_t firstFormCode = 256;  // the forms are numbered after the papers

    ~Members() {
        if (ppd) ppdClose(ppd);
        if (dest) cupsFreeDests(1, dest);
    }

    // Reads the queue's PPD once, with the queue's defaults marked.
    ppd_file_t* Ppd() {
        if (ppdTried) return ppd;
        ppdTried = true;
        const char* file = cupsGetPPD2(CUPS_HTTP_DEFAULT, name.c_str());
        if (!file) return nullptr;
        std::string path = file;
        ppd = ppdOpenFile(path.c_str());
        unlink(path.c_str());
        if (!ppd) return nullptr;
        ppdMarkDefaults(ppd);
        cupsMarkOptions(ppd, dest->num_options, dest->options);
        MakeLists();
        return ppd;
    }

    void MakeLists() {
        std::int16_t next = 256;
        for (int i = 0; i < ppd->num_sizes; ++i) {
            const ppd_size_t& s = ppd->sizes[i];
            if (EqualsNoCase(s.name, "Custom")) continue;
            PaperInfo p;
            p.code = PaperCodeOfName(s.name);
            if (p.code == 0) p.code = next++;
            ppd_choice_t* choice = ppdFindChoice(ppdFindOption(ppd, "PageSize"), s.name);
            p.name = choice && choice->text[0] ? choice->text : s.name;
            if (pwg_media_t* media = pwgMediaForPPD(s.name)) {
                p.width = (media->width + 5) / 10;  // hundredths to tenths
                p.length = (media->length + 5) / 10;
            } else {
                p.width = TenthsOfMm(s.width);
                p.length = TenthsOfMm(s.length);
            }
            papers.push_back(std::move(p));
            paperKeys.push_back(s.name);
        }
        firstFormCode = next;
        next = 256;
        if (ppd_option_t* slot = ppdFindOption(ppd, "InputSlot")) {
            for (int i = 0; i < slot->num_choices; ++i) {
                BinInfo b;
                b.code = CodeOf(kBinCodes, slot->choices[i].choice);
                if (b.code == 0) b.code = next++;
                b.name = slot->choices[i].text[0] ? slot->choices[i].text : slot->choices[i].choice;
                bins.push_back(std::move(b));
                binKeys.push_back(slot->choices[i].choice);
            }
        }
    }
};

Printer::Printer(std::unique_ptr<Members> m) : m_(std::move(m)) {}
Printer::~Printer() = default;

std::unique_ptr<Printer> Printer::Open(std::string_view name) {
    std::string n(name);
    if (n.empty()) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    }
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, n.c_str(), nullptr);
    if (!dest) {
        ipp_status_t st = cupsLastError();
        SetLastError(st == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || st == IPP_STATUS_ERROR_INTERNAL
                         ? RPC_S_SERVER_UNAVAILABLE
                         : ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    }
    auto m = std::make_unique<Members>();
    m->name = n;
    m->dest = dest;
    return std::unique_ptr<Printer>(new Printer(std::move(m)));
}

const std::string& Printer::Name() const { return m_->name; }

bool Printer::DefaultDeviceMode(DeviceMode* mode) {
    ppd_file_t* ppd = m_->Ppd();
    if (!ppd) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    DeviceMode dm;
    int x = 300, y = 300;
    const char* res = nullptr;
    if (ppd_choice_t* c = ppdFindMarkedChoice(ppd, "Resolution")) res = c->choice;
    else if (ppd_attr_t* a = ppdFindAttr(ppd, "DefaultResolution", nullptr)) res = a->value;
    if (res) {
        int n = std::sscanf(res, "%dx%d", &x, &y);
        if (n == 1) y = x;
        if (n < 1) x = y = 300;
    }
    dm.printQuality = Clamp16(x);
    dm.yResolution = Clamp16(y);
    const char* orient = cupsGetOption("orientation-requested", m_->dest->num_options, m_->dest->options);
    bool landscape = (orient && (std::atoi(orient) == 4 || std::atoi(orient) == 5)) ||
                     cupsGetOption("landscape", m_->dest->num_options, m_->dest->options);
    dm.orientation = landscape ? 2 : 1;
    if (ppd_size_t* size = ppdPageSize(ppd, nullptr)) {
        dm.formName = size->name;
        dm.paperSize = PaperCodeOfName(size->name);
        for (std::size_t i = 0; i < m_->papers.size(); ++i)
            if (m_->paperKeys[i] == size->name) {
                dm.paperSize = m_->papers[i].code;
                dm.formName = m_->papers[i].name;
                break;
            }
    } else if (ppd_attr_t* def = ppdFindAttr(ppd, "DefaultPageSize", nullptr)) {
        // A default the size list does not hold: its code, if it has one.
        dm.formName = def->value ? def->value : "";
        dm.paperSize = PaperCodeOfName(dm.formName);
    }
    // A form as the default paper is the queue's "media" option alone (the
    // PPD cannot name it).
    const char* media = cupsGetOption("media", m_->dest->num_options, m_->dest->options);
    if (media && std::none_of(m_->paperKeys.begin(), m_->paperKeys.end(),
                              [media](const std::string& key) { return EqualsNoCase(key, media); })) {
        std::vector<FormInfo> forms = EnumForms();
        for (std::size_t i = 0; i < forms.size(); ++i)
            if (EqualsNoCase(forms[i].name, media)) {
                dm.paperSize = static_cast<std::int16_t>(m_->firstFormCode + i);
                dm.formName = forms[i].name;
            }
    }
    if (const char* copies = cupsGetOption("copies", m_->dest->num_options, m_->dest->options))
        dm.copies = Clamp16(std::max(1L, std::strtol(copies, nullptr, 10)));
    const char* collate = cupsGetOption("collate", m_->dest->num_options, m_->dest->options);
    const char* handling = cupsGetOption("multiple-document-handling", m_->dest->num_options, m_->dest->options);
    dm.collate = (collate && EqualsNoCase(collate, "true")) ||
                         (handling && std::strcmp(handling, "separate-documents-collated-copies") == 0)
                     ? 1
                     : 0;
    if (ppd_choice_t* slot = ppdFindMarkedChoice(ppd, "InputSlot")) {
        for (std::size_t i = 0; i < m_->bins.size(); ++i)
            if (m_->binKeys[i] == slot->choice) {
                dm.defaultSource = m_->bins[i].code;
                break;
            }
    }
    *mode = dm;
    return true;
}

std::vector<PaperInfo> Printer::Papers() {
    if (!m_->Ppd()) return {};
    std::vector<PaperInfo> out = m_->papers;
    std::int16_t code = m_->firstFormCode;
    for (const FormInfo& f : EnumForms()) {
        // thousandths to tenths of a millimetre
        out.push_back({code++, f.name, static_cast<std::int32_t>((f.width + 50) / 100),
                       static_cast<std::int32_t>((f.length + 50) / 100)});
    }
    return out;
}

std::vector<std::pair<int, int>> Printer::Resolutions() {
    std::vector<std::pair<int, int>> out;
    ppd_file_t* ppd = m_->Ppd();
    ppd_option_t* opt = ppd ? ppdFindOption(ppd, "Resolution") : nullptr;
    for (int i = 0; opt && i < opt->num_choices; ++i) {
        int x = 0, y = 0;
        int n = std::sscanf(opt->choices[i].choice, "%dx%d", &x, &y);
        if (n == 1) y = x;
        if (n >= 1 && x > 0 && y > 0) out.emplace_back(x, y);
    }
    return out;
}

namespace {

// The PPD with its default lines for `key` ("Resolution", "PageSize", ...)
// set to `value`.
void SetPpdDefault(std::string& ppd, std::string_view key, std::string_view value) {
    std::string head = "*Default" + std::string(key) + ":";
    std::size_t at = 0;
    while ((at = ppd.find(head, at)) != std::string::npos) {
        if (at != 0 && ppd[at - 1] != '\n') {
            at += head.size();
            continue;
        }
        std::size_t end = ppd.find('\n', at);
        if (end == std::string::npos) end = ppd.size();
        if (end > at && ppd[end - 1] == '\r') --end;
        ppd.replace(at, end - at, head + " " + std::string(value));
        at += head.size();
    }
}

DWORD ErrorOfIpp(ipp_status_t st) {
    if (st == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || st == IPP_STATUS_ERROR_INTERNAL) return RPC_S_SERVER_UNAVAILABLE;
    if (st == IPP_STATUS_ERROR_NOT_FOUND) return ERROR_INVALID_PRINTER_NAME;
    return ERROR_ACCESS_DENIED;
}

}  // namespace

bool Printer::SetDefaults(const DefaultChanges& changes) {
    ppd_file_t* ppd = m_->Ppd();
    if (!ppd) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    std::string resolution, pageSize, media;
    if (changes.xResolution > 0) {
        ppd_option_t* opt = ppdFindOption(ppd, "Resolution");
        for (int i = 0; opt && i < opt->num_choices; ++i) {
            int x = 0, y = 0;
            int n = std::sscanf(opt->choices[i].choice, "%dx%d", &x, &y);
            if (n == 1) y = x;
            if (x == changes.xResolution && y == changes.yResolution) resolution = opt->choices[i].choice;
        }
        if (resolution.empty()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
    }
    if (changes.paperSize > 0) {
        for (std::size_t i = 0; i < m_->papers.size(); ++i)
            if (m_->papers[i].code == changes.paperSize) pageSize = media = m_->paperKeys[i];
        if (media.empty()) {
            std::vector<FormInfo> forms = EnumForms();
            std::size_t index = static_cast<std::size_t>(changes.paperSize - m_->firstFormCode);
            if (changes.paperSize >= m_->firstFormCode && index < forms.size()) media = forms[index].name;
        }
        if (media.empty()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
    }
    if (changes.orientation != 0 && changes.orientation != 1 && changes.orientation != 2) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }

    // The PPD goes with the request only when one of its defaults changes.
    std::string ppdFile;
    if (!resolution.empty() || !pageSize.empty()) {
        const char* file = cupsGetPPD2(CUPS_HTTP_DEFAULT, m_->name.c_str());
        if (!file) {
            SetLastError(ErrorOfIpp(cupsLastError()));
            return false;
        }
        ppdFile = file;
        std::ifstream in(ppdFile, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string body = text.str();
        if (!resolution.empty()) SetPpdDefault(body, "Resolution", resolution);
        if (!pageSize.empty())
            for (const char* key : {"PageSize", "PageRegion", "ImageableArea", "PaperDimension"})
                SetPpdDefault(body, key, pageSize);
        std::ofstream out(ppdFile, std::ios::binary | std::ios::trunc);
        out << body;
        out.close();
        if (!in || !out) {
            unlink(ppdFile.c_str());
            SetLastError(ERROR_CANTWRITE);
            return false;
        }
    }

    ipp_t* request = ippNewRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER);
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                     m_->name.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    if (changes.orientation != 0)
        ippAddInteger(request, IPP_TAG_PRINTER, IPP_TAG_ENUM, "orientation-requested-default",
                      changes.orientation == 2 ? IPP_ORIENT_LANDSCAPE : IPP_ORIENT_PORTRAIT);
    if (!media.empty()) ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_NAME, "media-default", nullptr, media.c_str());
    ippDelete(cupsDoFileRequest(CUPS_HTTP_DEFAULT, request, "/admin/", ppdFile.empty() ? nullptr : ppdFile.c_str()));
    ipp_status_t st = cupsLastError();
    if (!ppdFile.empty()) unlink(ppdFile.c_str());
    if (st > IPP_STATUS_OK_CONFLICTING) {
        SetLastError(ErrorOfIpp(st));
        return false;
    }
    return true;
}

std::vector<BinInfo> Printer::Bins() {
    m_->Ppd();
    return m_->bins;
}

std::vector<JobInfo> Printer::Jobs(std::size_t max) {
    cups_job_t* jobs = nullptr;
    int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, m_->name.c_str(), 0, CUPS_WHICHJOBS_ALL);
    std::vector<JobInfo> out;
    for (int i = 0; i < n; ++i) {
        JobInfo j;
        j.id = jobs[i].id;
        j.user = jobs[i].user ? jobs[i].user : "";
        j.title = jobs[i].title ? jobs[i].title : "";
        switch (jobs[i].state) {
        case IPP_JSTATE_HELD:
        case IPP_JSTATE_STOPPED: j.status = 0x1; break;     // paused
        case IPP_JSTATE_PROCESSING: j.status = 0x10; break;  // printing
        case IPP_JSTATE_CANCELED: j.status = 0x100; break;   // deleted
        case IPP_JSTATE_ABORTED: j.status = 0x2; break;      // error
        case IPP_JSTATE_COMPLETED: j.status = JOB_STATUS_PRINTED | 0x1000; break;
        default: j.status = 0;
        }
        out.push_back(std::move(j));
    }
    if (n > 0) cupsFreeJobs(n, jobs);
    std::sort(out.begin(), out.end(), [](const JobInfo& a, const JobInfo& b) { return a.id < b.id; });
    if (out.size() > max) out.resize(max);
    return out;
}

bool Printer::DeleteJob(int id) {
    if (cupsCancelJob2(CUPS_HTTP_DEFAULT, m_->name.c_str(), id, 1) == IPP_STATUS_OK) return true;
    SetLastError(cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
    return false;
}

std::vector<FormInfo> EnumForms() {
    std::vector<FormInfo> out;
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kFormsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return out;
    for (DWORD i = 0;; ++i) {
        char name[kMaxKeyNameLength + 1];
        DWORD len = sizeof name;
        if (RegEnumKeyEx(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        FormInfo f;
        f.name.assign(name, len);
        std::string path = std::string(kFormsKey) + "\\" + f.name;
        DWORD w = 0, l = 0;
        // A form without a usable size is no form (a hand-edited registry).
        if (RegGetDword(HKEY_LOCAL_MACHINE, path, "Width", &w) != ERROR_SUCCESS ||
            RegGetDword(HKEY_LOCAL_MACHINE, path, "Length", &l) != ERROR_SUCCESS || w == 0 || l == 0 ||
            f.name.size() > kMaxFormName)
            continue;
        f.width = w;
        f.length = l;
        out.push_back(std::move(f));
    }
    RegCloseKey(key);
    return out;
}

bool AddForm(const FormInfo& form) {
    if (form.name.empty() || form.name.size() > kMaxFormName || form.name.find('\\') != std::string::npos ||
        form.width == 0 || form.length == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::string path = std::string(kFormsKey) + "\\" + form.name;
    HKEY key = nullptr;
    DWORD disposition = 0;
    LSTATUS st = RegCreateKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, &disposition);
    if (st != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(st));
        return false;
    }
    if (disposition != REG_CREATED_NEW_KEY) {
        RegCloseKey(key);
        SetLastError(ERROR_FILE_EXISTS);
        return false;
    }
    DWORD w = form.width, l = form.length;
    st = RegSetValueEx(key, "Width", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&w), sizeof w);
    if (st == ERROR_SUCCESS) st = RegSetValueEx(key, "Length", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&l), sizeof l);
    RegCloseKey(key);
    if (st != ERROR_SUCCESS) {
        HKEY forms = nullptr;
        if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kFormsKey, 0, KEY_ALL_ACCESS, &forms) == ERROR_SUCCESS) {
            RegDeleteTree(forms, form.name.c_str());
            RegCloseKey(forms);
        }
        SetLastError(static_cast<DWORD>(st));
        return false;
    }
    return true;
}

bool DeleteForm(std::string_view name) {
    HKEY forms = nullptr;
    LSTATUS st = RegOpenKeyEx(HKEY_LOCAL_MACHINE, kFormsKey, 0, KEY_ALL_ACCESS, &forms);
    if (st == ERROR_SUCCESS) {
        std::string n(name);
        st = n.empty() || n.find('\\') != std::string::npos ? ERROR_FILE_NOT_FOUND : RegDeleteTree(forms, n.c_str());
        RegCloseKey(forms);
    }
    if (st != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(st));
        return false;
    }
    return true;
}

void ResetPrintService() { cupsSetServer(nullptr); }

std::string GetDefaultPrinter() {
    cups_dest_t* dests = nullptr;
    int n = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    std::string name;
    if (cups_dest_t* d = cupsGetDest(nullptr, nullptr, n, dests)) name = d->name;
    cupsFreeDests(n, dests);
    return name;
}

bool SetDefaultPrinter(std::string_view name) {
    std::string n(name);
    cups_dest_t* dests = nullptr;
    int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    bool found = false;
    for (int i = 0; i < count; ++i) {
        // An empty name leaves no default (putting back "none" after a change).
        bool is = !n.empty() && !dests[i].instance && n == dests[i].name;
        dests[i].is_default = is;
        found |= is;
    }
    if (n.empty()) found = true;
    bool ok = found && cupsSetDests2(CUPS_HTTP_DEFAULT, count, dests) == 0;
    cupsFreeDests(count, dests);
    if (!ok) SetLastError(found ? ERROR_ACCESS_DENIED : ERROR_INVALID_PRINTER_NAME);
    return ok;
}

}  // namespace platform
