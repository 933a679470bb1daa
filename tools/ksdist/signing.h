// Authenticode signatures, made and read by osslsigncode: signing a Windows program with the
// release engineer's certificate, and saying what signature a program carries. The signing
// time comes from SOURCE_DATE_EPOCH when it is set, so that a signed build can be repeated.
#pragma once
#include <cstdio>
#include <string>

struct SigningOptions {
  std::string certificate;   // a PKCS#12 (.pfx) file; empty: nothing is signed
  std::string passwordFile;  // the certificate's password on the first line; may be empty
  std::string timestampUrl;  // an RFC 3161 time-stamp server; may be empty
  bool wanted() const { return !certificate.empty(); }
};

// The lines that a command's --help gives to the three signing options.
extern const char kSigningHelp[];

// The help of a command that takes the signing options: its own lines, the signing lines, then
// its closing lines.
struct SigningCommandHelp {
  const char* command;  // "pack", "package"
  const char* head;
  const char* tail;
  void Print(FILE* out) const;
  // Says what is wrong, then the help, on standard error; returns the usage exit status.
  int UsageError(const std::string& what) const;
};

// When argv[i] is --sign-cert, --sign-password-file or --timestamp-url, takes it with its
// value (advancing `i`) and returns true; `problem` then says what is wrong, if anything.
bool TakeSigningOption(int argc, char** argv, int& i, SigningOptions& options,
                       std::string& problem);

// "" when the options make sense together, else what is wrong with them.
std::string SigningOptionsProblem(const SigningOptions& options);

// Signs the program `in` into `out`, a file that does not exist yet. Returns "" when it is
// signed, else one line that says why not.
std::string SignProgram(const std::string& in, const std::string& out,
                        const SigningOptions& options);

struct SignatureReport {
  enum State {
    kUnsigned,
    kMatches,  // signed, and the signature covers the file as it is
    kBroken,   // the file or its signature changed after signing
    kUnknown,  // osslsigncode could not tell (or is not installed): `detail` says why
  } state = kUnknown;
  std::string signer;  // the signing certificate's subject, when it could be read
  std::string detail;  // why it is broken or unknown; for a match, how far it is trusted
};

SignatureReport DescribeSignature(const std::string& path);
