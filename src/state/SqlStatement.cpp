#include "state/SqlStatement.h"

#include <sqlite3.h>

SqlStatement::SqlStatement(sqlite3* db, const std::string& sql) {
    rc_ = db ? sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) : SQLITE_CANTOPEN;
    if (rc_ == SQLITE_OK && !stmt_) rc_ = SQLITE_MISUSE;
}

SqlStatement::~SqlStatement() { sqlite3_finalize(stmt_); }

void SqlStatement::bind(int i, double v) {
    if (stmt_) sqlite3_bind_double(stmt_, i, v);
}

void SqlStatement::bind(int i, int v) {
    if (stmt_) sqlite3_bind_int(stmt_, i, v);
}

void SqlStatement::bind(int i, std::int64_t v) {
    if (stmt_) sqlite3_bind_int64(stmt_, i, v);
}

void SqlStatement::bind(int i, const std::string& v) {
    if (stmt_) sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
}

void SqlStatement::bind(int i, const std::optional<std::string>& v) {
    if (!stmt_) return;
    if (v) bind(i, *v);
    else sqlite3_bind_null(stmt_, i);
}

int SqlStatement::step() { return stmt_ ? sqlite3_step(stmt_) : rc_; }

std::int64_t SqlStatement::int64(int col) const { return sqlite3_column_int64(stmt_, col); }
sqlite3_value* SqlStatement::value(int col) const { return sqlite3_column_value(stmt_, col); }
int SqlStatement::int32(int col) const { return sqlite3_column_int(stmt_, col); }
double SqlStatement::real(int col) const { return sqlite3_column_double(stmt_, col); }
bool SqlStatement::isNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }

std::string SqlStatement::text(int col) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
}

int SqlStatement::finished(int rc) { return rc == SQLITE_DONE ? SQLITE_OK : rc; }

bool SqlStatement::isCorruption(int rc) {
    rc &= 0xff;
    return rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB;
}
