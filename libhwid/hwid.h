/* libhwid: the rows hwidtool (Linux) and hwidwin (Windows) show, for a
 * program that checks at run time that a licence's Hardware ID belongs to
 * the machine it runs on.
 *
 * A Hardware ID is the MD5 digest of a device id (a network address, a USB
 * serial number) in 32 uppercase hexadecimal digits. The library runs the
 * same probe pass as the program of its platform, so it finds the same
 * devices, in the same order, with the same Hardware IDs.
 *
 * Every function may be called from several threads at once; the library
 * keeps no state between calls. No function throws, aborts or prints: a
 * failure is a negative status, which hwid_strerror() names.
 *
 * C99 and C++. Link with `pkg-config --cflags --libs hwid`, or in CMake
 * with find_package(hwid 1 CONFIG) and the target hwid::hwid. */
#ifndef ZEF_LIBHWID_HWID_H_
#define ZEF_LIBHWID_HWID_H_

#include <stddef.h>

#if defined(_WIN32)
#if defined(HWID_BUILDING_SHARED)
#define HWID_API __declspec(dllexport)
#elif defined(HWID_SHARED)
#define HWID_API __declspec(dllimport)
#else
#define HWID_API
#endif
#elif defined(__GNUC__)
#define HWID_API __attribute__((visibility("default")))
#else
#define HWID_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The size of a buffer that holds a Hardware ID: 32 hexadecimal digits and
 * the terminating NUL. */
#define HWID_ID_SIZE 33

/* Status values. Every function that returns an int status returns
 * HWID_OK or one of the negative values below. */
enum {
    HWID_OK = 0,
    HWID_E_INVALID = -1, /* a NULL pointer, an index past the end, malformed text */
    HWID_E_NOMEM = -2,   /* memory ran out */
    HWID_E_INTERNAL = -3 /* any other failure inside the library */
};

/* Device types, numbered as the programs number them; the programs show
 * them as "NIC" and "USB". Windows lists USB disks as HWID_USB. */
enum { HWID_NIC = 1, HWID_USB = 2 };

/* A snapshot of the machine's rows, taken by hwid_list_new(). Owned by the
 * caller, who releases it with hwid_list_free(); read-only, so several
 * threads may read one list at once. */
typedef struct hwid_list hwid_list;

/* The version of the programs whose rows this library gives, such as
 * "2.26.0.0". A static string. */
HWID_API const char *hwid_version(void);

/* A short English text for `status`, a static string; never NULL, also for
 * values that are no status. */
HWID_API const char *hwid_strerror(int status);

/* Probes the machine as the program of this platform does, and sets
 * `*list` to a new list of what it found (possibly no rows). hwidtool's
 * pass: the network interfaces of /sys/class/net, or only when that gives
 * none, those of `/sbin/ifconfig -a`; then the USB mass-storage devices
 * with a serial number. hwidwin's: the wired Ethernet adapters, then the
 * USB disks. Reads only.
 * Returns HWID_OK; HWID_E_INVALID when `list` is NULL; HWID_E_NOMEM or
 * HWID_E_INTERNAL, with `*list` set to NULL, when probing failed. */
HWID_API int hwid_list_new(hwid_list **list);

/* Releases `list` and every string taken from it. NULL is accepted. */
HWID_API void hwid_list_free(hwid_list *list);

/* The number of rows of `list`; 0 for NULL. */
HWID_API size_t hwid_list_count(const hwid_list *list);

/* The type of row `index` (HWID_NIC or HWID_USB), or HWID_E_INVALID when
 * `list` is NULL or `index` is not below hwid_list_count(). */
HWID_API int hwid_list_type(const hwid_list *list, size_t index);

/* The strings of row `index`, valid until hwid_list_free(list); NULL when
 * `list` is NULL or `index` is not below hwid_list_count().
 * - hardware_id: 32 uppercase hexadecimal digits, the digest of device_id;
 * - device_id: the id read from the device (a network address of 12
 *   hexadecimal digits, a serial number), as the program hashes it;
 * - comment: the interface name, or the device's maker and product, as the
 *   device gave them. Device-supplied text may hold terminal control codes
 *   and bytes that are not UTF-8: a caller who displays it must make it
 *   safe first, as the programs do (hwidtool shows each control character,
 *   C0, DEL or C1, and each byte outside well-formed UTF-8 as '?'). */
HWID_API const char *hwid_list_hardware_id(const hwid_list *list, size_t index);
HWID_API const char *hwid_list_device_id(const hwid_list *list, size_t index);
HWID_API const char *hwid_list_comment(const hwid_list *list, size_t index);

/* Writes the Hardware ID of the `length` bytes at `device_id` (NUL bytes
 * included; no terminator needed) to `hardware_id`: 32 uppercase
 * hexadecimal digits and a NUL, as `hwidtool --generate` prints it.
 * Returns HWID_OK; HWID_E_INVALID when a pointer is NULL, leaving
 * `hardware_id` untouched. */
HWID_API int hwid_generate(const char *device_id, size_t length, char hardware_id[HWID_ID_SIZE]);

/* Whether `hardware_id` (exactly 32 hexadecimal digits, either case, then
 * a NUL) is the Hardware ID of a row of a list taken now.
 * Returns 1 when it is, 0 when it is not; HWID_E_INVALID for NULL or any
 * other text; HWID_E_NOMEM or HWID_E_INTERNAL when probing failed. */
HWID_API int hwid_present(const char *hardware_id);

#ifdef __cplusplus
}
#endif

#endif /* ZEF_LIBHWID_HWID_H_ */
