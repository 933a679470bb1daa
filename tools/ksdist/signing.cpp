#include "signing.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

const char kSigningHelp[] =
    "  --sign-cert FILE  sign SETUP.EXE with the code-signing certificate and key in FILE\n"
    "                    (PKCS#12, .pfx), using osslsigncode, SHA-256; the signing time is\n"
    "                    SOURCE_DATE_EPOCH when it is set, else the time of signing\n"
    "  --sign-password-file FILE\n"
    "                    the certificate's password, on the first line of FILE\n"
    "  --timestamp-url URL\n"
    "                    have the signature time-stamped by this RFC 3161 server, so that it\n"
    "                    stays valid after the certificate expires (needs the network)\n";

namespace {

constexpr char kSigningTool[] = "osslsigncode";

struct ToolRun {
  bool started = false;
  int status = -1;     // the exit status; -1 when it did not end normally
  std::string output;  // standard output and standard error, interleaved
};

// Runs osslsigncode with `arguments` and collects all it prints. Its input is /dev/null, so
// that it never waits for a password typed in.
ToolRun RunSigningTool(std::vector<std::string> arguments) {
  ToolRun run;
  arguments.insert(arguments.begin(), kSigningTool);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
  pid_t child;
  run.started = posix_spawnp(&child, kSigningTool, &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  if (run.started) {
    char block[4096];
    for (;;) {
      ssize_t got = read(pipeEnds[0], block, sizeof block);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      run.output.append(block, static_cast<size_t>(got));
    }
    int status;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  }
  close(pipeEnds[0]);
  return run;
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// OpenSSL's own error lines begin with a thread number and "error:"; osslsigncode's plain
// sentences say more to a person.
std::string FirstPlainLine(const std::string& output) {
  for (const std::string& line : LinesOf(output))
    if (!line.empty() && line.find(":error:") == std::string::npos) return line;
  return "no explanation given";
}

// What follows `label` on `line`, without the blanks and colon between them or trailing blanks;
// "" when the line does not hold the label.
std::string ValueAfter(const std::string& line, const char* label) {
  size_t at = line.find(label);
  if (at == std::string::npos) return "";
  std::string value = line.substr(at + std::strlen(label));
  value.erase(0, value.find_first_not_of(" :"));
  while (!value.empty() && (value.back() == ' ' || value.back() == '\r')) value.pop_back();
  return value;
}

}  // namespace

bool TakeSigningOption(int argc, char** argv, int& i, SigningOptions& options,
                       std::string& problem) {
  std::pair<const char*, std::string*> known[] = {{"--sign-cert", &options.certificate},
                                                  {"--sign-password-file", &options.passwordFile},
                                                  {"--timestamp-url", &options.timestampUrl}};
  for (const auto& [name, value] : known) {
    if (std::strcmp(argv[i], name)) continue;
    if (i + 1 >= argc || argv[i + 1][0] == '\0')
      problem = std::string(name) + " needs a value";
    else
      *value = argv[++i];
    return true;
  }
  return false;
}

std::string SigningOptionsProblem(const SigningOptions& options) {
  if (!options.wanted() && (!options.passwordFile.empty() || !options.timestampUrl.empty()))
    return "--sign-password-file and --timestamp-url need --sign-cert";
  return "";
}

std::string SignProgram(const std::string& in, const std::string& out,
                        const SigningOptions& options) {
  std::vector<std::string> arguments = {"sign", "-pkcs12", options.certificate, "-h", "sha256"};
  if (!options.passwordFile.empty())
    arguments.insert(arguments.end(), {"-readpass", options.passwordFile});
  if (!options.timestampUrl.empty())
    arguments.insert(arguments.end(), {"-ts", options.timestampUrl});
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch)
    arguments.insert(arguments.end(), {"-time", epoch});
  arguments.insert(arguments.end(), {"-in", in, "-out", out});
  ToolRun run = RunSigningTool(arguments);
  if (!run.started) return "cannot run osslsigncode: is it installed?";
  if (run.status != 0) return "osslsigncode could not sign it: " + FirstPlainLine(run.output);
  return "";
}

SignatureReport DescribeSignature(const std::string& path) {
  SignatureReport report;
  // Certificates name servers for their revocation lists; the check stays off the network.
  // osslsigncode before 2.6 fetches nothing and knows no such option: it shows its usage.
  ToolRun run = RunSigningTool({"verify", "-ignore-cdp", "-in", path});
  if (run.started && run.output.find("Usage:") != std::string::npos)
    run = RunSigningTool({"verify", "-in", path});
  if (!run.started) {
    report.detail = "cannot run osslsigncode to check the signature: is it installed?";
    return report;
  }
  std::string current, calculated, chainError;
  bool signatureFailed = false;
  for (const std::string& line : LinesOf(run.output)) {
    if (line.find("No signature found") != std::string::npos) {
      report.state = SignatureReport::kUnsigned;
      return report;
    }
    if (std::string subject = ValueAfter(line, "Subject: "); report.signer.empty())
      report.signer = subject;
    if (std::string value = ValueAfter(line, "Current message digest"); !value.empty())
      current = value;
    if (std::string value = ValueAfter(line, "Calculated message digest"); !value.empty())
      calculated = value;
    if (std::string reason = ValueAfter(line, "Verify error: "); !reason.empty())
      chainError = reason;
    if (line.find("signature failure") != std::string::npos ||
        line.find("digest failure") != std::string::npos)
      signatureFailed = true;
  }
  if (current.empty() || current != calculated) {
    report.state = current.empty() ? SignatureReport::kUnknown : SignatureReport::kBroken;
    report.detail = current.empty() ? "osslsigncode cannot read it: " + FirstPlainLine(run.output)
                                    : "the file changed after it was signed";
  } else if (signatureFailed) {
    report.state = SignatureReport::kBroken;
    report.detail = "the signature itself is damaged";
  } else if (run.status == 0) {
    report.state = SignatureReport::kMatches;
    report.detail = "its certificate chain leads to an authority this machine trusts";
  } else {
    report.state = SignatureReport::kMatches;
    report.detail = "its certificate chain is not trusted on this machine: " +
                    (chainError.empty() ? FirstPlainLine(run.output) : chainError);
  }
  return report;
}
