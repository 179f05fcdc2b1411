#!/bin/bash
# Makes the throw-away signing keys of a locked test build and prints the pin of the
# publisher's key, as TAVRINE_SETUP_PUBLISHER takes it.
#   tools/make-test-publisher.sh <dir>
# <dir> gets publisher.pem/.key (the pinned key) and stranger.pem/.key (a key the build
# does not know). Keys already there are kept, so the pin stays what the build was
# configured with. They are made at test time and never belong in the repository.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: tools/make-test-publisher.sh <dir>" >&2; exit 2; }
dir=$1
mkdir -p "$dir"
for name in publisher stranger; do
  [ -s "$dir/$name.pem" ] && [ -s "$dir/$name.key" ] && continue
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Tavrine test $name" \
    -addext extendedKeyUsage=codeSigning -addext keyUsage=critical,digitalSignature \
    -keyout "$dir/$name.key" -out "$dir/$name.pem" >/dev/null 2>&1 ||
    { echo "make-test-publisher: openssl cannot make the $name key" >&2; exit 1; }
done
# The pin: SHA-256 of the certificate's SubjectPublicKeyInfo in DER.
openssl x509 -in "$dir/publisher.pem" -pubkey -noout | openssl pkey -pubin -outform DER |
  openssl dgst -sha256 -r | cut -d' ' -f1
