// Tries, once and without waiting, to take the write lock of a SQLite database from a process
// of its own, as another monitor or a calculation would: prints "fri" when it could, "upptagen"
// when another process holds the file.
#include <cstdio>
#include <sqlite3.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("Användning: kvarnix_trywrite <databas>\n", stderr);
        return 2;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
        sqlite3_close(db);
        return 1;
    }
    const int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    std::puts(rc == SQLITE_OK              ? "fri"
              : (rc & 0xff) == SQLITE_BUSY ? "upptagen"
                                           : sqlite3_errmsg(db));
    if (rc == SQLITE_OK)
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return 0;
}
