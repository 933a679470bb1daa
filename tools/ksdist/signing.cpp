#include "signing.h"

#include "unpack.h"

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

// Runs `program` with `arguments` and collects all it prints. Its input is /dev/null, so that
// it never waits for a password typed in.
ToolRun RunTool(const char* program, std::vector<std::string> arguments) {
  ToolRun run;
  arguments.insert(arguments.begin(), program);
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
  run.started = posix_spawnp(&child, program, &actions, nullptr, argv.data(), environ) == 0;
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

// What `osslsigncode verify` said about a file.
struct VerifyOutput {
  bool unsigned_ = false;
  std::string signer;               // the first certificate subject named: the signer's
  std::string current, calculated;  // the digest signed, and the file's digest now
  std::string chainError;           // why the certificate chain was not trusted
  bool signatureFailed = false;     // the signature value does not fit the signed attributes
};

VerifyOutput Read(const ToolRun& run) {
  VerifyOutput seen;
  for (const std::string& line : LinesOf(run.output)) {
    seen.unsigned_ |= line.find("No signature found") != std::string::npos;
    if (seen.signer.empty()) seen.signer = ValueAfter(line, "Subject: ");
    if (std::string value = ValueAfter(line, "Current message digest"); !value.empty())
      seen.current = value;
    if (std::string value = ValueAfter(line, "Calculated message digest"); !value.empty())
      seen.calculated = value;
    if (std::string reason = ValueAfter(line, "Verify error: "); !reason.empty())
      seen.chainError = reason;
    seen.signatureFailed |= line.find("signature failure") != std::string::npos ||
                            line.find("digest failure") != std::string::npos;
  }
  return seen;
}

// Verifies `path` against the authorities in `trusted`, or against the system's when it is "".
ToolRun Verify(const std::string& path, const std::string& trusted) {
  std::vector<std::string> arguments = {"verify", "-in", path};
  if (!trusted.empty()) arguments.insert(arguments.end(), {"-CAfile", trusted});
  // Certificates name servers for their revocation lists; the check stays off the network.
  // osslsigncode before 2.6 fetches nothing and knows no such option: it shows its usage.
  arguments.push_back("-ignore-cdp");
  ToolRun run = RunTool(kSigningTool, arguments);
  if (run.started && run.output.find("Usage:") != std::string::npos) {
    arguments.pop_back();
    run = RunTool(kSigningTool, arguments);
  }
  return run;
}

// A private folder for the tools' files, removed with them.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    pattern += "/ksdist-signature-XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TemporaryFolder() {
    for (const char* name : {kSignatureFile, kCertificatesFile})
      unlink((path_ + "/" + name).c_str());
    if (!path_.empty()) rmdir(path_.c_str());
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  bool made() const { return !path_.empty(); }
  std::string operator/(const char* name) const { return path_ + "/" + name; }

  static constexpr char kSignatureFile[] = "signature.pem";
  static constexpr char kCertificatesFile[] = "certificates.pem";

 private:
  std::string path_;
};

// The certificates that the signature of `path` carries, in a PEM file in `folder`; "" when
// they cannot be had.
std::string OwnCertificates(const std::string& path, const TemporaryFolder& folder) {
  if (!folder.made()) return "";
  std::string signature = folder / TemporaryFolder::kSignatureFile;
  std::string certificates = folder / TemporaryFolder::kCertificatesFile;
  if (RunTool(kSigningTool, {"extract-signature", "-pem", "-in", path, "-out", signature}).status !=
          0 ||
      RunTool("openssl", {"pkcs7", "-print_certs", "-in", signature, "-out", certificates})
              .status != 0)
    return "";
  return certificates;
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
  ToolRun run = RunTool(kSigningTool, arguments);
  if (!run.started) return "cannot run osslsigncode: is it installed?";
  if (run.status != 0) return "osslsigncode could not sign it: " + FirstPlainLine(run.output);
  return "";
}

SignatureReport DescribeSignature(const std::string& path) {
  SignatureReport report;
  ToolRun run = Verify(path, "");
  if (!run.started) {
    report.detail = "cannot run osslsigncode to check the signature: is it installed?";
    return report;
  }
  VerifyOutput seen = Read(run);
  report.signer = seen.signer;
  if (seen.unsigned_) {
    report.state = SignatureReport::kUnsigned;
  } else if (seen.current.empty()) {
    report.detail = "osslsigncode cannot read it: " + FirstPlainLine(run.output);
  } else if (seen.current != seen.calculated) {
    report.state = SignatureReport::kBroken;
    report.detail = "the file changed after it was signed";
  } else if (run.status == 0 || seen.signatureFailed) {
    report.state = seen.signatureFailed ? SignatureReport::kBroken : SignatureReport::kMatches;
    report.detail = seen.signatureFailed
                        ? "the signature itself is damaged"
                        : "its certificate chain leads to an authority this machine trusts";
  } else {
    // An untrusted chain stops OpenSSL before it checks the signature value; check that once
    // more, trusting the certificates that the signature carries.
    TemporaryFolder folder;
    std::string certificates = OwnCertificates(path, folder);
    VerifyOutput own = Read(Verify(path, certificates));
    std::string untrusted =
        "its certificate chain is not trusted on this machine: " +
        (seen.chainError.empty() ? FirstPlainLine(run.output) : seen.chainError);
    if (own.signatureFailed) {
      report.state = SignatureReport::kBroken;
      report.detail = "the signature itself is damaged";
    } else if (!certificates.empty() && own.chainError.empty()) {
      report.state = SignatureReport::kMatches;
      report.detail = untrusted;
    } else {
      report.detail = "signed by " + seen.signer + "; " + untrusted +
                      ", and the signature value cannot be checked without it";
    }
  }
  return report;
}

void SigningCommandHelp::Print(FILE* out) const {
  std::fputs(head, out);
  std::fputs(kSigningHelp, out);
  std::fputs(tail, out);
}

int SigningCommandHelp::UsageError(const std::string& what) const {
  std::fprintf(stderr, "ksdist %s: %s\n\n", command, what.c_str());
  Print(stderr);
  return kExitUsage;
}
