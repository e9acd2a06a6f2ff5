#include "line/LineOptions.h"

#include <CLI/CLI.hpp>
#include <cstdio>

#include "platform/CommandLine.h"

namespace voltrix {

void printLineUsage(std::FILE* out) {
  std::fputs(
      "Usage: voltrix-line --db CONNINFO --listen ADDR:PORT [--token-file FILE]\n"
      "                    [--cert FILE --cert-key FILE] [--trust-key FILE]...\n"
      "       voltrix-line --keygen BASENAME\n"
      "       voltrix-line --sign --key FILE IMAGE\n"
      "Takes the stations' records into PostgreSQL, shows every station live and\n"
      "hands the stations the current signed job.\n"
      "  --db CONNINFO      libpq connection string or URL of the line's database\n"
      "  --listen ADDR:PORT where to serve (127.0.0.1:8088; port 0: any free one)\n"
      "  --token-file FILE  lines ROLE TOKEN [NAME]; roles viewer, operator, engineer,\n"
      "                     station, admin (needed beyond 127.0.0.1)\n"
      "  --cert FILE        serve HTTPS with this certificate (PEM) ...\n"
      "  --cert-key FILE    ... and its private key (PEM)\n"
      "  --trust-key FILE   a public key jobs may be signed with (repeatable); without\n"
      "                     one the line refuses every job\n"
      "  --keygen BASENAME  write a new key pair: BASENAME.pub and BASENAME.key (0600)\n"
      "  --sign --key FILE IMAGE\n"
      "                     print IMAGE's signature with the secret key FILE and write\n"
      "                     it to IMAGE.sig\n"
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
  app.add_option("--trust-key", given.trustKeys)
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--keygen", given.keygen);
  app.add_flag("--sign", given.sign);
  app.add_option("--key", given.signKey);
  app.add_option("image", given.signImage);
  ParsedLineOptions parsed;
  parsed.error = parseCommandLine(app, arguments);
  if (!parsed.error.empty()) return parsed;
  const bool command = given.keygen || given.sign;
  if (given.keygen && given.sign) {
    parsed.error = "--keygen and --sign exclude each other";
    return parsed;
  }
  if (given.sign && (given.signKey.empty() || given.signImage.empty())) {
    parsed.error = "--sign needs --key FILE and the IMAGE to sign";
    return parsed;
  }
  if (!given.sign && (!given.signKey.empty() || !given.signImage.empty())) {
    parsed.error = given.signKey.empty() ? "unknown argument '" + given.signImage + "'"
                                         : "--key is the secret key for --sign";
    return parsed;
  }
  if (!given.help && !given.version && !command) {
    if (given.db.empty()) parsed.error = "--db CONNINFO is needed";
    if (given.listen.empty()) parsed.error = "--listen ADDR:PORT is needed";
    if (!parsed.error.empty()) return parsed;
  }
  parsed.options = given;
  return parsed;
}

}  // namespace voltrix
