/* The Node.js and Electron addon: hwid.h's calls as JavaScript functions.
 *
 * Written on Node-API alone (version 8), so that one file serves Node 18 and
 * later and every Electron built on them, without a rebuild. libhwid is
 * linked in: the addon is the only file of ours a process loads. It keeps
 * no state of its own, so worker threads may call it at once.
 *
 * Device text is bytes. Each row carries them exactly (raw.deviceId,
 * raw.comment) and as strings decoded as the platform's program reads them:
 * UTF-8 on Linux, the ANSI code page on Windows; generate() encodes a string
 * back the same way. */
#define NAPI_VERSION 8
#include <node_api.h>

#include <stdlib.h>
#include <string.h>

#include "hwid.h"

#ifdef _WIN32
#include <windows.h>
#endif

/* Every Node-API call is checked: a failed one leaves its exception (or
 * ours) pending and the function returns nothing. */
#define TRY(call)                      \
    do {                               \
        if ((call) != napi_ok) {       \
            throw_unless_pending(env); \
            return NULL;               \
        }                              \
    } while (0)

static void throw_unless_pending(napi_env env) {
    bool pending = false;
    if (napi_is_exception_pending(env, &pending) == napi_ok && !pending)
        napi_throw_error(env, NULL, "hwid: a Node-API call failed");
}

/* The library's own failures: an Error with its status and hwid_strerror's text. */
static napi_value throw_status(napi_env env, int status) {
    napi_value message, error, code;
    if (napi_create_string_utf8(env, hwid_strerror(status), NAPI_AUTO_LENGTH, &message) ==
            napi_ok &&
        napi_create_error(env, NULL, message, &error) == napi_ok &&
        napi_create_int32(env, status, &code) == napi_ok &&
        napi_set_named_property(env, error, "status", code) == napi_ok)
        napi_throw(env, error);
    throw_unless_pending(env);
    return NULL;
}

/* A device's text as a string, decoded as this platform's program reads it. */
static napi_status decoded(napi_env env, const char *text, napi_value *result) {
#ifdef _WIN32
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, NULL, 0);
    wchar_t *wide = length > 0 ? malloc(sizeof(wchar_t) * (size_t)length) : NULL;
    napi_status status = napi_generic_failure;
    if (wide != NULL && MultiByteToWideChar(CP_ACP, 0, text, -1, wide, length) == length)
        status = napi_create_string_utf16(env, (const char16_t *)wide, (size_t)length - 1, result);
    free(wide);
    return status;
#else
    return napi_create_string_utf8(env, text, NAPI_AUTO_LENGTH, result);
#endif
}

/* A string's bytes as generate() hashes them, in memory the caller frees. */
static char *encoded(napi_env env, napi_value text, size_t *size) {
#ifdef _WIN32
    size_t length = 0;
    if (napi_get_value_string_utf16(env, text, NULL, 0, &length) != napi_ok) return NULL;
    char16_t *wide = malloc(sizeof(char16_t) * (length + 1));
    char *bytes = NULL;
    if (wide != NULL &&
        napi_get_value_string_utf16(env, text, wide, length + 1, &length) == napi_ok) {
        /* Characters the code page lacks become its default character, as
         * hwidwin's own conversion of its command line does. */
        int needed = length == 0 ? 0
                                 : WideCharToMultiByte(CP_ACP, 0, (const wchar_t *)wide,
                                                       (int)length, NULL, 0, NULL, NULL);
        bytes = (length == 0 || needed > 0) ? malloc((size_t)needed + 1) : NULL;
        if (bytes != NULL)
            *size = (size_t)WideCharToMultiByte(CP_ACP, 0, (const wchar_t *)wide, (int)length,
                                                bytes, needed, NULL, NULL);
    }
    free(wide);
    return bytes;
#else
    size_t length = 0;
    if (napi_get_value_string_utf8(env, text, NULL, 0, &length) != napi_ok) return NULL;
    char *bytes = malloc(length + 1);
    if (bytes != NULL &&
        napi_get_value_string_utf8(env, text, bytes, length + 1, size) != napi_ok) {
        free(bytes);
        bytes = NULL;
    }
    return bytes;
#endif
}

static napi_value version(napi_env env, napi_callback_info info) {
    (void)info;
    napi_value result;
    TRY(napi_create_string_utf8(env, hwid_version(), NAPI_AUTO_LENGTH, &result));
    return result;
}

/* A field's text, decoded, and its bytes in a Buffer of their own. */
static napi_status text_values(napi_env env, const char *text, napi_value *string,
                               napi_value *bytes) {
    napi_status status = decoded(env, text, string);
    if (status == napi_ok) status = napi_create_buffer_copy(env, strlen(text), text, NULL, bytes);
    return status;
}

/* A row's field names, made once a list: a name given as C text is made
 * into a string again for every object. */
static const char *const field_names[] = {"type", "hardwareId", "deviceId", "comment", "raw"};
enum { FIELDS = sizeof field_names / sizeof field_names[0] };

/* An object with the named values, as a literal would make it. */
static napi_status object_of(napi_env env, const napi_value names[], const napi_value values[],
                             size_t count, napi_value *result) {
    napi_property_descriptor fields[FIELDS];
    for (size_t i = 0; i < count; i++)
        fields[i] = (napi_property_descriptor){
            NULL, names[i], NULL, NULL, NULL, values[i], napi_default_jsproperty, NULL};
    napi_status status = napi_create_object(env, result);
    if (status == napi_ok) status = napi_define_properties(env, *result, count, fields);
    return status;
}

/* One row as an object; every byte copied out of the list. */
static napi_value row_object(napi_env env, const napi_value names[FIELDS], const hwid_list *list,
                             size_t index) {
    int type = hwid_list_type(list, index);
    const char *hardware_id = hwid_list_hardware_id(list, index);
    const char *device_id = hwid_list_device_id(list, index);
    const char *comment = hwid_list_comment(list, index);
    if (type < 0 || hardware_id == NULL || device_id == NULL || comment == NULL)
        return throw_status(env, HWID_E_INTERNAL);
    napi_value values[FIELDS], raw[2], row;
    TRY(napi_create_int32(env, type, &values[0]));
    TRY(napi_create_string_utf8(env, hardware_id, NAPI_AUTO_LENGTH, &values[1]));
    TRY(text_values(env, device_id, &values[2], &raw[0]));
    TRY(text_values(env, comment, &values[3], &raw[1]));
    TRY(object_of(env, names + 2, raw, 2, &values[4]));
    TRY(object_of(env, names, values, FIELDS, &row));
    return row;
}

static napi_value list(napi_env env, napi_callback_info info) {
    (void)info;
    hwid_list *rows = NULL;
    int status = hwid_list_new(&rows);
    if (status < 0) return throw_status(env, status);
    size_t count = hwid_list_count(rows);
    napi_value result = NULL, names[FIELDS];
    if (napi_create_array_with_length(env, count, &result) != napi_ok) result = NULL;
    for (size_t i = 0; result != NULL && i < FIELDS; i++)
        if (napi_create_string_utf8(env, field_names[i], NAPI_AUTO_LENGTH, &names[i]) != napi_ok)
            result = NULL;
    for (size_t index = 0; result != NULL && index < count; index++) {
        napi_value row = row_object(env, names, rows, index);
        if (row == NULL || napi_set_element(env, result, (uint32_t)index, row) != napi_ok)
            result = NULL;
    }
    hwid_list_free(rows);
    if (result == NULL) throw_unless_pending(env);
    return result;
}

static napi_value one_argument(napi_env env, napi_callback_info info) {
    size_t count = 1;
    napi_value argument = NULL;
    TRY(napi_get_cb_info(env, info, &count, &argument, NULL, NULL));
    if (count < 1) TRY(napi_get_undefined(env, &argument));
    return argument;
}

static napi_value hardware_id_string(napi_env env, const char hardware_id[HWID_ID_SIZE]) {
    napi_value result;
    TRY(napi_create_string_utf8(env, hardware_id, HWID_ID_SIZE - 1, &result));
    return result;
}

/* generate(id): a string, encoded as rows decode, or a Buffer/Uint8Array of
 * the exact bytes. */
static napi_value generate(napi_env env, napi_callback_info info) {
    napi_value id = one_argument(env, info);
    if (id == NULL) return NULL;
    napi_valuetype kind;
    bool is_typed_array = false;
    TRY(napi_typeof(env, id, &kind));
    TRY(napi_is_typedarray(env, id, &is_typed_array));
    char hardware_id[HWID_ID_SIZE];
    int status;
    if (kind == napi_string) {
        size_t size = 0;
        char *bytes = encoded(env, id, &size);
        if (bytes == NULL) return throw_status(env, HWID_E_NOMEM);
        status = hwid_generate(bytes, size, hardware_id);
        free(bytes);
    } else if (is_typed_array) {
        napi_typedarray_type type;
        size_t length, offset;
        void *data;
        napi_value buffer;
        TRY(napi_get_typedarray_info(env, id, &type, &length, &data, &buffer, &offset));
        if (type != napi_uint8_array) {
            napi_throw_type_error(env, NULL, "generate() takes a string, a Buffer or a Uint8Array");
            return NULL;
        }
        /* An empty array may have no memory behind it; the library wants a pointer. */
        status = hwid_generate(length == 0 ? "" : data, length, hardware_id);
    } else {
        napi_throw_type_error(env, NULL, "generate() takes a string, a Buffer or a Uint8Array");
        return NULL;
    }
    return status < 0 ? throw_status(env, status) : hardware_id_string(env, hardware_id);
}

static bool is_hardware_id(const char *text, size_t length) {
    if (length != HWID_ID_SIZE - 1) return false;
    for (size_t i = 0; i < length; i++)
        if (strchr("0123456789abcdefABCDEF", text[i]) == NULL || text[i] == '\0') return false;
    return true;
}

static napi_value present(napi_env env, napi_callback_info info) {
    napi_value id = one_argument(env, info);
    if (id == NULL) return NULL;
    napi_valuetype kind;
    TRY(napi_typeof(env, id, &kind));
    if (kind != napi_string) {
        napi_throw_type_error(env, NULL, "present() takes a string");
        return NULL;
    }
    /* One more than a Hardware ID holds: a longer string is seen as too long. */
    char text[HWID_ID_SIZE + 1];
    size_t length = 0;
    TRY(napi_get_value_string_utf8(env, id, text, sizeof text, &length));
    if (!is_hardware_id(text, length)) {
        napi_throw_range_error(env, NULL, "present() takes a Hardware ID of 32 hexadecimal digits");
        return NULL;
    }
    int status = hwid_present(text);
    if (status < 0) return throw_status(env, status);
    napi_value result;
    TRY(napi_get_boolean(env, status == 1, &result));
    return result;
}

NAPI_MODULE_INIT() {
    static const struct {
        const char *name;
        napi_callback function;
    } functions[] = {
        {"version", version}, {"list", list}, {"generate", generate}, {"present", present}};
    for (size_t i = 0; i < sizeof functions / sizeof functions[0]; i++) {
        napi_value function;
        TRY(napi_create_function(env, functions[i].name, NAPI_AUTO_LENGTH, functions[i].function,
                                 NULL, &function));
        TRY(napi_set_named_property(env, exports, functions[i].name, function));
    }
    napi_value number;
    TRY(napi_create_int32(env, HWID_NIC, &number));
    TRY(napi_set_named_property(env, exports, "NIC", number));
    TRY(napi_create_int32(env, HWID_USB, &number));
    TRY(napi_set_named_property(env, exports, "USB", number));
    return exports;
}
