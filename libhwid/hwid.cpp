#include "libhwid/hwid.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/md5_checksum.h"
#include "core/string_helpers.h"
#include "core/unique_id.h"
#include "libhwid/probe_pass.h"

struct hwid_list {
    std::vector<zef::UniqueIdStruct_> rows;
};

namespace {

const std::size_t kHardwareIdLength = HWID_ID_SIZE - 1;

// No C++ exception may cross into a C caller: it would end the process.
template <typename Body>
int guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return HWID_E_NOMEM;
    } catch (...) {
        return HWID_E_INTERNAL;
    }
}

const zef::UniqueIdStruct_* rowAt(const hwid_list* list, std::size_t index) {
    if (list == nullptr || index >= list->rows.size()) return nullptr;
    return &list->rows[index];
}

// The programs' Hardware ID (zef::Runtime::generateMD5) without copying the
// id into a string first, and fed in pieces an unsigned long can count: it
// has 32 bits on 64-bit Windows.
std::string hardwareIdOf(const char* data, std::size_t length) {
    zefStream::MD5Checksum md5;
    const std::size_t piece = ULONG_MAX;
    for (; length > piece; data += piece, length -= piece) {
        md5.update(data, static_cast<unsigned long>(piece));
    }
    md5.update(data, static_cast<unsigned long>(length));
    return stringToUpper(md5.final());
}

// Hex digits of the C locale only: the caller's locale must not widen them.
bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isHardwareIdText(const char* text) {
    for (std::size_t i = 0; i < kHardwareIdLength; ++i) {
        if (!isHexDigit(text[i])) return false;  // the NUL of a short text stops here
    }
    return text[kHardwareIdLength] == '\0';
}

int listRows(hwid_list** list) {
    std::unique_ptr<hwid_list> fresh(new hwid_list);
    zef::lib::probeMachine(fresh->rows);
    *list = fresh.release();
    return HWID_OK;
}

int findHardwareId(const char* hardwareId) {
    const std::string wanted = stringToUpper(std::string(hardwareId, kHardwareIdLength));
    hwid_list fresh;
    zef::lib::probeMachine(fresh.rows);
    for (const zef::UniqueIdStruct_& row : fresh.rows) {
        if (row.hardwareId == wanted) return 1;
    }
    return 0;
}

}  // namespace

extern "C" {

const char* hwid_version(void) { return HWID_PROGRAMS_VERSION; }

const char* hwid_strerror(int status) {
    switch (status) {
        case HWID_OK:
            return "success";
        case HWID_E_INVALID:
            return "invalid argument";
        case HWID_E_NOMEM:
            return "out of memory";
        case HWID_E_INTERNAL:
            return "internal error";
        default:
            return "unknown status";
    }
}

int hwid_list_new(hwid_list** list) {
    if (list == nullptr) return HWID_E_INVALID;
    *list = nullptr;
    return guarded([list] { return listRows(list); });
}

void hwid_list_free(hwid_list* list) { delete list; }

size_t hwid_list_count(const hwid_list* list) { return list != nullptr ? list->rows.size() : 0; }

int hwid_list_type(const hwid_list* list, size_t index) {
    const zef::UniqueIdStruct_* row = rowAt(list, index);
    return row != nullptr ? static_cast<int>(row->type) : HWID_E_INVALID;
}

const char* hwid_list_hardware_id(const hwid_list* list, size_t index) {
    const zef::UniqueIdStruct_* row = rowAt(list, index);
    return row != nullptr ? row->hardwareId.c_str() : nullptr;
}

const char* hwid_list_device_id(const hwid_list* list, size_t index) {
    const zef::UniqueIdStruct_* row = rowAt(list, index);
    return row != nullptr ? row->deviceId.c_str() : nullptr;
}

const char* hwid_list_comment(const hwid_list* list, size_t index) {
    const zef::UniqueIdStruct_* row = rowAt(list, index);
    return row != nullptr ? row->comment.c_str() : nullptr;
}

int hwid_generate(const char* device_id, size_t length, char hardware_id[HWID_ID_SIZE]) {
    if (device_id == nullptr || hardware_id == nullptr) return HWID_E_INVALID;
    return guarded([=] {
        const std::string digits = hardwareIdOf(device_id, length);
        std::memcpy(hardware_id, digits.c_str(), HWID_ID_SIZE);
        return HWID_OK;
    });
}

int hwid_present(const char* hardware_id) {
    if (hardware_id == nullptr || !isHardwareIdText(hardware_id)) return HWID_E_INVALID;
    return guarded([hardware_id] { return findHardwareId(hardware_id); });
}

}  // extern "C"
