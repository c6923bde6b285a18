// One prepared SQLite statement, finalized when it goes out of scope. A statement that failed to
// prepare is null: binds on it do nothing and a step returns the error it failed with.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_value;

class SqlStatement {
public:
    SqlStatement(sqlite3* db, const std::string& sql);
    ~SqlStatement();
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;

    explicit operator bool() const { return stmt_ != nullptr; }
    void bind(int i, double v);
    void bind(int i, int v);
    void bind(int i, std::int64_t v);
    // With its length: a NUL inside the text does not cut the rest off.
    void bind(int i, const std::string& v);
    // NULL when empty.
    void bind(int i, const std::optional<std::string>& v);
    // SQLITE_ROW, SQLITE_DONE or an error code (the preparation's, for a null statement).
    int step();

    std::int64_t int64(int col) const;
    sqlite3_value* value(int col) const;
    int int32(int col) const;
    double real(int col) const;
    bool isNull(int col) const;
    std::string text(int col) const;

    // A step that ends a statement: DONE is success (SQLITE_OK); anything else as it is.
    static int finished(int rc);
    // The file is not a sound database (damaged, or not a database at all).
    static bool isCorruption(int rc);

private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = 0;
};
