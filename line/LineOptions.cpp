#include "line/LineOptions.h"

#include <CLI/CLI.hpp>
#include <cstdio>

#include "platform/CommandLine.h"

namespace voltrix {

void printLineUsage(std::FILE* out) {
  std::fputs(
      "Usage: voltrix-line --db CONNINFO --listen ADDR:PORT [--token-file FILE]\n"
      "                    [--cert FILE --cert-key FILE]\n"
      "Takes the stations' records into PostgreSQL and shows every station live.\n"
      "  --db CONNINFO      libpq connection string or URL of the line's database\n"
      "  --listen ADDR:PORT where to serve (127.0.0.1:8088; port 0: any free one)\n"
      "  --token-file FILE  lines ROLE TOKEN [NAME]; roles viewer, operator, engineer,\n"
      "                     station, admin (needed beyond 127.0.0.1)\n"
      "  --cert FILE        serve HTTPS with this certificate (PEM) ...\n"
      "  --cert-key FILE    ... and its private key (PEM)\n"
      "Ends cleanly on Ctrl+C or SIGTERM.\n",
      out);
}

ParsedLineOptions parseLineOptions(const std::vector<std::string>& arguments) {
  LineOptions given;
  CLI::App app("voltrix-line");
  prepareCommandLine(app);
  app.add_flag("-h,--help", given.help);
  app.add_flag("-V,--version", given.version);
  app.add_option("--db", given.db);
  app.add_option("--listen", given.listen);
  app.add_option("--token-file", given.tokenFile);
  app.add_option("--cert", given.certificateFile);
  app.add_option("--cert-key", given.keyFile);
  ParsedLineOptions parsed;
  parsed.error = parseCommandLine(app, arguments);
  if (!parsed.error.empty()) return parsed;
  if (!given.help && !given.version) {
    if (given.db.empty()) parsed.error = "--db CONNINFO is needed";
    if (given.listen.empty()) parsed.error = "--listen ADDR:PORT is needed";
    if (!parsed.error.empty()) return parsed;
  }
  parsed.options = given;
  return parsed;
}

}  // namespace voltrix
