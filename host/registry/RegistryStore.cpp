#include "RegistryStore.h"

#include <charconv>
#include <cstdlib>
#include <map>
#include <set>

namespace kivo::registry {

namespace {

// Rows inserted by one statement.
constexpr std::size_t kRowsPerInsert = 100;
constexpr const char* kRunColumns =
    "id, stand, run, file, first_event, last_event, data_events, begin_seen, end_seen, kivo_version, path, bytes, "
    "overall, overall_reason, recorded_at";

Text text_of(const std::optional<long long>& value) {
  return value ? Text(std::to_string(*value)) : Text();
}
Text text_of(const std::optional<int>& value) { return value ? Text(std::to_string(*value)) : Text(); }
Text text_of(const std::optional<bool>& value) { return value ? Text(*value ? "1" : "0") : Text(); }

// Doubles as text that reads back as the same double.
std::string number_text(double value) {
  char text[32];
  const auto [end, status] = std::to_chars(text, text + sizeof text, value);
  return status == std::errc() ? std::string(text, end) : "0";
}

long long integer(const Text& text) { return text ? std::strtoll(text->c_str(), nullptr, 10) : 0; }
std::optional<long long> optional_integer(const Text& text) {
  if (!text) return std::nullopt;
  return std::strtoll(text->c_str(), nullptr, 10);
}
std::optional<bool> optional_flag(const Text& text) {
  if (!text) return std::nullopt;
  return integer(text) != 0;
}
std::string string(const Text& text) { return text.value_or(""); }

// INSERT INTO `into` VALUES (...), (...): `rows` of `width` values each, in statements of kRowsPerInsert rows.
void insert_rows(Database& database, const std::string& into, std::size_t width, const std::vector<Params>& rows) {
  for (std::size_t first = 0; first < rows.size(); first += kRowsPerInsert) {
    const std::size_t last = std::min(rows.size(), first + kRowsPerInsert);
    std::string sql = "INSERT INTO " + into + " VALUES ";
    Params params;
    for (std::size_t r = first; r < last; ++r) {
      sql += r == first ? "(" : ", (";
      for (std::size_t c = 0; c < width; ++c) {
        params.push_back(rows[r][c]);
        sql += (c ? ", $" : "$") + std::to_string(params.size());
      }
      sql += ")";
    }
    database.execute(sql, params);
  }
}

// The last of each name: a file holding a name twice records it once.
template <class Item, class Name>
std::vector<const Item*> last_of_each(const std::vector<Item>& items, Name name) {
  std::map<std::string, const Item*> by_name;
  for (const Item& item : items) by_name[name(item)] = &item;
  std::vector<const Item*> kept;
  std::set<std::string> taken;
  for (auto it = items.rbegin(); it != items.rend(); ++it)
    if (taken.insert(name(*it)).second) kept.insert(kept.begin(), by_name[name(*it)]);
  return kept;
}

void store_verdicts(Database& database, const std::string& id, const RunRecord& record) {
  database.execute("DELETE FROM kivo_verdicts WHERE run_id = $1", {id});
  std::vector<Params> rows;
  for (const RunVerdict* verdict : last_of_each(record.verdicts, [](const RunVerdict& v) { return v.name; }))
    rows.push_back({id, verdict->name, verdict->check, text_of(verdict->stave), text_of(verdict->chip),
                    verdict->verdict, verdict->reason});
  insert_rows(database, "kivo_verdicts (run_id, name, check_name, stave, chip, verdict, reason)", 7, rows);
}

void store_figures(Database& database, const std::string& id, const RunRecord& record) {
  database.execute("DELETE FROM kivo_figures WHERE run_id = $1", {id});
  using Figure = std::pair<std::string, double>;
  std::vector<Params> rows;
  for (const Figure* figure : last_of_each(record.figures, [](const Figure& f) { return f.first; }))
    rows.push_back({id, figure->first, number_text(figure->second)});
  insert_rows(database, "kivo_figures (run_id, name, value)", 3, rows);
}

StoredCertification certification_of(const Row& row) {
  StoredCertification stored;
  stored.id = integer(row[0]);
  stored.run_id = integer(row[1]);
  stored.stand = string(row[2]);
  stored.run = int(integer(row[3]));
  stored.verdict = string(row[4]);
  stored.comment = string(row[5]);
  stored.user = string(row[6]);
  stored.at = string(row[7]);
  return stored;
}

constexpr const char* kCertificationSelect =
    "SELECT c.id, c.run_id, r.stand, r.run, c.verdict, c.comment, c.user_name, c.certified_at "
    "FROM kivo_certifications c JOIN kivo_runs r ON r.id = c.run_id ";

RegisteredRun run_of(const Row& row) {
  RegisteredRun run;
  run.id = integer(row[0]);
  RunRecord& record = run.record;
  record.stand = string(row[1]);
  record.run = int(integer(row[2]));
  record.file = string(row[3]);
  record.first_event = string(row[4]);
  record.last_event = string(row[5]);
  record.data_events = optional_integer(row[6]);
  record.begin_seen = optional_flag(row[7]);
  record.end_seen = optional_flag(row[8]);
  record.version = string(row[9]);
  record.path = row[10];
  record.bytes = optional_integer(row[11]);
  record.overall = string(row[12]);
  record.overall_reason = string(row[13]);
  run.recorded_at = string(row[14]);
  return run;
}

RunVerdict verdict_of(const Row& row) {
  const std::optional<long long> stave = optional_integer(row[3]), chip = optional_integer(row[4]);
  return {string(row[1]), string(row[2]), stave ? std::optional<int>(int(*stave)) : std::nullopt,
          chip ? std::optional<int>(int(*chip)) : std::nullopt, string(row[5]), string(row[6])};
}

// "($1, $2, ...)" for the ids, and the ids as parameters.
std::string id_list(const std::vector<RegisteredRun>& runs, std::size_t first, std::size_t last, Params& params) {
  std::string list = "(";
  for (std::size_t i = first; i < last; ++i) {
    params.push_back(std::to_string(runs[i].id));
    list += (i == first ? "$" : ", $") + std::to_string(params.size());
  }
  return list + ")";
}

// Runs `select` (ending in "run_id IN ") for the runs' ids, a chunk at a
// time, and hands each row to `take` with the run whose id is in its column
// `id_column`.
template <class Take>
void for_each_detail(Database& database, std::vector<RegisteredRun>& runs, const std::string& select,
                     const std::string& order, std::size_t id_column, Take take) {
  std::map<long long, RegisteredRun*> by_id;
  for (RegisteredRun& run : runs) by_id[run.id] = &run;
  for (std::size_t first = 0; first < runs.size(); first += kRowsPerInsert * 5) {
    const std::size_t last = std::min(runs.size(), first + kRowsPerInsert * 5);
    Params params;
    const std::string sql = select + id_list(runs, first, last, params) + order;
    for (const Row& row : database.query(sql, params)) take(*by_id.at(integer(row[id_column])), row);
  }
}

}  // namespace

long long store_run(Database& database, const RunRecord& record, const std::string& recorded_at) {
  Transaction transaction(database);
  const std::vector<Row> stored = database.query(
      "INSERT INTO kivo_runs (stand, run, file, first_event, last_event, data_events, begin_seen, end_seen, "
      "kivo_version, path, bytes, overall, overall_reason, recorded_at) "
      "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14) "
      "ON CONFLICT (stand, run, file, first_event) DO UPDATE SET last_event = excluded.last_event, "
      "data_events = excluded.data_events, begin_seen = excluded.begin_seen, end_seen = excluded.end_seen, "
      "kivo_version = excluded.kivo_version, path = excluded.path, bytes = excluded.bytes, "
      "overall = excluded.overall, overall_reason = excluded.overall_reason, recorded_at = excluded.recorded_at "
      "RETURNING id",
      {record.stand, std::to_string(record.run), record.file, record.first_event, record.last_event,
       text_of(record.data_events), text_of(record.begin_seen), text_of(record.end_seen), record.version, record.path,
       text_of(record.bytes), record.overall, record.overall_reason, recorded_at});
  if (stored.empty() || !stored[0][0]) throw DatabaseError(Failure::refused, "the run's row was not stored");
  const std::string id = *stored[0][0];
  store_verdicts(database, id, record);
  store_figures(database, id, record);
  transaction.commit();
  return integer(stored[0][0]);
}

StoredCertification store_certification(Database& database, const CertificationRequest& request) {
  Transaction transaction(database);
  const std::vector<Row> found =
      request.run_id
          ? database.query("SELECT id FROM kivo_runs WHERE id = $1", {std::to_string(*request.run_id)})
          : database.query("SELECT id FROM kivo_runs WHERE stand = $1 AND run = $2 "
                           "ORDER BY first_event DESC, id DESC LIMIT 1",
                           {request.stand, std::to_string(request.run)});
  if (found.empty())
    throw DatabaseError(Failure::refused, request.run_id ? "the registry holds no run with id " +
                                                               std::to_string(*request.run_id)
                                                         : "the registry holds no run " + std::to_string(request.run) +
                                                               " of stand " + request.stand);
  database.execute(
      "INSERT INTO kivo_certifications (token, run_id, verdict, comment, user_name, certified_at) "
      "VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT (token) DO NOTHING",
      {request.token, found[0][0], request.verdict, request.comment, request.user, request.at});
  const std::vector<Row> stored =
      database.query(std::string(kCertificationSelect) + "WHERE c.token = $1", {request.token});
  transaction.commit();
  if (stored.empty()) throw DatabaseError(Failure::refused, "the certification was not stored");
  return certification_of(stored[0]);
}

std::vector<RegisteredRun> select_runs(Database& database, const web::RunsQuery& query, bool verdicts) {
  std::string where = " WHERE 1 = 1";
  Params params;
  auto filter = [&](const std::string& condition, const std::string& value) {
    params.push_back(value);
    where += " AND " + condition + " $" + std::to_string(params.size());
  };
  if (!query.stand.empty()) filter("r.stand =", query.stand);
  if (!query.verdict.empty()) filter("r.overall =", query.verdict);
  if (!query.since.empty()) filter("r.first_event >=", query.since);
  if (!query.until.empty()) filter("r.first_event <=", web::until_limit(query.until));
  if (!query.certification.empty())
    filter("COALESCE((SELECT c.verdict FROM kivo_certifications c WHERE c.run_id = r.id ORDER BY c.id DESC LIMIT 1),"
           " 'none') =",
           query.certification);
  params.push_back(std::to_string(query.last));
  const std::string sql = "SELECT " + std::string(kRunColumns) + " FROM kivo_runs r" + where +
                          " ORDER BY r.first_event DESC, r.id DESC LIMIT CAST($" + std::to_string(params.size()) +
                          " AS INTEGER)";
  std::vector<RegisteredRun> runs;
  const std::vector<Row> rows = database.query(sql, params);
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) runs.push_back(run_of(*row));
  for_each_detail(database, runs, "SELECT run_id, name, value FROM kivo_figures WHERE run_id IN ", " ORDER BY name",
                  0, [](RegisteredRun& run, const Row& row) {
                    run.record.figures.emplace_back(string(row[1]), std::strtod(string(row[2]).c_str(), nullptr));
                  });
  for_each_detail(database, runs, std::string(kCertificationSelect) + "WHERE c.run_id IN ", " ORDER BY c.id", 1,
                  [](RegisteredRun& run, const Row& row) { run.history.push_back(certification_of(row)); });
  if (verdicts)
    for_each_detail(database, runs,
                    "SELECT run_id, name, check_name, stave, chip, verdict, reason FROM kivo_verdicts WHERE run_id IN ",
                    " ORDER BY name", 0,
                    [](RegisteredRun& run, const Row& row) { run.record.verdicts.push_back(verdict_of(row)); });
  return runs;
}

std::vector<std::string> stand_names(Database& database) {
  std::vector<std::string> names;
  for (const Row& row : database.query("SELECT DISTINCT stand FROM kivo_runs ORDER BY stand"))
    names.push_back(string(row[0]));
  return names;
}

std::vector<std::string> figure_names(Database& database) {
  std::vector<std::string> names;
  for (const Row& row : database.query("SELECT DISTINCT name FROM kivo_figures ORDER BY name"))
    names.push_back(string(row[0]));
  return names;
}

}  // namespace kivo::registry
