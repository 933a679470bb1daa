#include "unzip/inflate.h"

#include "unzip/data_path.h"

// Deflated entries cannot be decoded yet: they end the job as an unknown method does.
int InflateStream() {
  FailUnknownMethod();
}
