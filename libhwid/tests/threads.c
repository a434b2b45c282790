/* Calls every function of hwid.h from several threads at once, each on
 * lists of its own and all on one shared list. Built with -fsanitize=thread
 * by threads.sh: a data race, or one wrong answer, fails it. Every list is
 * held to the first; given the number of rows the machine has (a fabricated
 * machine's), the first is held to that, or a library that found nothing
 * would pass with no row checked.
 * Usage: threads [ROWS] */
#include <ctype.h>
#include <hwid.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kThreads = 8, kRounds = 10 };

static hwid_list *shared_list;

static int fail(const char *what) {
    fprintf(stderr, "FAIL %s\n", what);
    return 1;
}

/* Every row's Hardware ID is the digest of its device id and is present;
 * past the end there is nothing. */
static int check_rows(const hwid_list *list) {
    size_t i, count = hwid_list_count(list);
    int failures = 0;
    for (i = 0; i < count; i++) {
        const char *device_id = hwid_list_device_id(list, i);
        const char *hardware_id = hwid_list_hardware_id(list, i);
        char digest[HWID_ID_SIZE], lower[HWID_ID_SIZE];
        int j, type = hwid_list_type(list, i);
        if (type != HWID_NIC && type != HWID_USB) failures += fail("row type");
        if (device_id == NULL || hardware_id == NULL || hwid_list_comment(list, i) == NULL) {
            failures += fail("row strings");
            continue;
        }
        if (hwid_generate(device_id, strlen(device_id), digest) != HWID_OK ||
            strcmp(digest, hardware_id) != 0)
            failures += fail("row Hardware ID");
        if (hwid_present(hardware_id) != 1) failures += fail("row present");
        for (j = 0; j < HWID_ID_SIZE; j++) lower[j] = (char)tolower((unsigned char)hardware_id[j]);
        if (hwid_present(lower) != 1) failures += fail("row present in lowercase");
    }
    if (hwid_list_type(list, count) != HWID_E_INVALID || hwid_list_comment(list, count) != NULL ||
        hwid_list_hardware_id(list, count) != NULL || hwid_list_device_id(list, count) != NULL)
        failures += fail("past the end");
    return failures;
}

static int check_calls(void) {
    char digest[HWID_ID_SIZE];
    hwid_list *list = NULL;
    int failures = 0, status = hwid_list_new(&list);
    if (status != HWID_OK) return fail(hwid_strerror(status));
    if (hwid_list_count(list) != hwid_list_count(shared_list)) failures += fail("row count");
    failures += check_rows(list) + check_rows(shared_list);
    hwid_list_free(list);
    hwid_list_free(NULL);
    if (hwid_list_count(NULL) != 0 || hwid_list_new(NULL) != HWID_E_INVALID)
        failures += fail("NULL list");
    if (hwid_generate("a\0b", 3, digest) != HWID_OK ||
        strcmp(digest, "70350F6027BCE3713F6B76473084309B") != 0)
        failures += fail("hwid_generate");
    if (hwid_present("d41d8cd98f00b204e9800998ecf8427") != HWID_E_INVALID ||
        hwid_present("d41d8cd98f00b204e9800998ecf8427ee") != HWID_E_INVALID ||
        hwid_present("g41d8cd98f00b204e9800998ecf8427e") != HWID_E_INVALID ||
        hwid_present(NULL) != HWID_E_INVALID)
        failures += fail("hwid_present of no Hardware ID");
    if (hwid_present("00000000000000000000000000000000") != 0) failures += fail("absent ID");
    if (strcmp(hwid_version(), HWID_TEST_VERSION) != 0 ||
        strcmp(hwid_strerror(HWID_E_NOMEM), "out of memory") != 0 || hwid_strerror(12345) == NULL)
        failures += fail("texts");
    return failures;
}

static void *work(void *failures) {
    int round;
    for (round = 0; round < kRounds; round++) *(int *)failures += check_calls();
    return NULL;
}

int main(int argc, char **argv) {
    pthread_t threads[kThreads];
    int failures[kThreads] = {0};
    int i, total = 0, status;
    char *end = NULL;
    unsigned long rows = argc > 1 ? strtoul(argv[1], &end, 10) : 0;
    if (argc > 2 || (argc == 2 && (argv[1][0] == '\0' || *end != '\0')))
        return fail("usage: threads [ROWS]");
    status = hwid_list_new(&shared_list);
    if (status != HWID_OK) return fail(hwid_strerror(status));
    if (argc == 2 && hwid_list_count(shared_list) != rows) {
        fprintf(stderr, "FAIL %zu rows, the machine has %lu\n", hwid_list_count(shared_list), rows);
        return 1;
    }
    for (i = 0; i < kThreads; i++)
        if (pthread_create(&threads[i], NULL, work, &failures[i]) != 0)
            return fail("pthread_create");
    for (i = 0; i < kThreads; i++) {
        pthread_join(threads[i], NULL);
        total += failures[i];
    }
    printf("%d threads, %d rounds each over %zu rows: %d failures\n", kThreads, kRounds,
           hwid_list_count(shared_list), total);
    hwid_list_free(shared_list);
    return total == 0 ? 0 : 1;
}
