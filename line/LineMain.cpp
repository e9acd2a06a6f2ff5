// voltrix-line: takes the stations' records into the line's database and
// serves every station and slot live, until Ctrl+C or SIGTERM.

#include <chrono>
#include <cstdio>
#include <thread>

#include "line/LineConnections.h"
#include "line/LineJobCommands.h"
#include "line/LineOptions.h"
#include "line/LineServer.h"
#include "line/PgSession.h"
#include "platform/ProcessSignals.h"
#include "platform/ProgramArguments.h"
#include "record/Sha256.h"
#include "service/AccessTokens.h"
#include "voltrix/Version.h"

namespace {

using namespace voltrix;

int exitStatusOf(LineDbFailure kind) {
  switch (kind) {
    case LineDbFailure::CannotConnect:
      return kLineExitCannotConnect;
    case LineDbFailure::Auth:
      return kLineExitLoginRefused;
    case LineDbFailure::Newer:
      return kLineExitNewerSchema;
    case LineDbFailure::None:
    case LineDbFailure::Other:
      break;
  }
  return kLineExitFailed;
}

int runLine(const LineOptions& options) {
  std::string error;
  LineServerSettings settings;
  const auto address = service::parseServeAddress(options.listen, error);
  if (!address) {
    std::fprintf(
        stderr, "voltrix-line: %s\n",
        ("--listen wants ADDR:PORT (e.g. 127.0.0.1:8088), not '" + options.listen + "'").c_str());
    return kLineExitUsage;
  }
  settings.address = *address;
  if (!options.tokenFile.empty()) {
    settings.tokens = service::AccessTokens::load(options.tokenFile, error, service::lineRoles());
    if (!settings.tokens) {
      std::fprintf(stderr, "voltrix-line: --token-file %s\n", error.c_str());
      return kLineExitUsage;
    }
  }
  const auto trusted = lineTrustedKeys(options.trustKeys, error);
  if (!trusted) {
    std::fprintf(stderr, "voltrix-line: %s\n", error.c_str());
    return kLineExitUsage;
  }
  settings.trustedKeys = *trusted;
  settings.certificateFile = options.certificateFile;
  settings.keyFile = options.keyFile;
  if (const std::string refusal = lineServeRefusal(settings); !refusal.empty()) {
    std::fprintf(stderr, "voltrix-line: %s\n", refusal.c_str());
    return kLineExitUsage;
  }

  // A database that cannot be used at the start is told and ends the
  // program (its service manager starts it again): a mistyped connection
  // string is seen at once rather than hidden behind 503s.
  LineDbError dbError;
  std::unique_ptr<LineDb> first = LineDb::open(options.db, dbError);
  if (!first) {
    std::fprintf(stderr, "voltrix-line: database: %s: %s\n", lineDbFailureName(dbError.kind),
                 dbError.text.c_str());
    return exitStatusOf(dbError.kind);
  }
  // The database says who may do what, for those who read the control
  // audit there: each token by its hash, with its role and holder.
  if (settings.tokens) {
    std::vector<LineToken> tokens;
    for (const auto& [token, holder] : settings.tokens->entries()) {
      Sha256 hash;
      hash.update(token.data(), token.size());
      tokens.push_back({Sha256::hex(hash.finish()), service::roleName(holder.role), holder.name});
    }
    if (!first->recordTokens(tokens, dbError)) {
      std::fprintf(stderr, "voltrix-line: warning: database: the tokens' roles are not noted: %s\n",
                   dbError.text.c_str());
    }
  }
  const std::string databaseName = first->session().databaseName();
  const int schema = first->schemaVersion();
  LineConnections connections(options.db, std::move(first), {});
  StationBoard board;
  LineServer server(connections, board, settings);
  if (!server.start(error)) {
    std::fprintf(stderr, "voltrix-line: %s\n", error.c_str());
    return kLineExitCannotServe;
  }
  std::printf("voltrix-line: serving %s, database %s schema v%d, %zu trusted key(s)\n",
              server.url().c_str(), databaseName.c_str(), schema, settings.trustedKeys.size());
  std::fflush(stdout);
  while (!terminationRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server.stop();
  std::printf("voltrix-line: stopped serving %s\n", server.url().c_str());
  return kLineExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  voltrix::ensureStandardStreams();
  voltrix::catchTerminationRequests();
  const ParsedLineOptions parsed = parseLineOptions(voltrix::programArguments(argc, argv));
  if (!parsed.options) {
    std::fprintf(stderr, "voltrix-line: %s\n", parsed.error.c_str());
    printLineUsage(stderr);
    return kLineExitUsage;
  }
  if (parsed.options->help) {
    printLineUsage(stdout);
    return kLineExitOk;
  }
  if (parsed.options->version) {
    std::printf("voltrix-line %s\n", voltrix::kVoltrixVersion);
    return kLineExitOk;
  }
  if (parsed.options->keygen || parsed.options->sign) return runLineJobCommand(*parsed.options);
  return runLine(*parsed.options);
}
