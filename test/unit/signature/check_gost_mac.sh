#!/bin/sh
# Checks OpenSSL's GOST engine against published GOST 28147-89 MAC vectors (CryptoPro-A
# S-box, zero IV), then checks that the stored key of the GOST operator gives the expected
# MAC over its 25 test bytes.
set -u
status=0

check() {
    key=$1 data=$2 expected=$3
    got=$(printf '%s' "$data" | xxd -r -p | openssl dgst -engine gost -mac gost-mac -macopt "hexkey:$key" 2>/dev/null |
          sed -n 's/^gost-mac(stdin)= //p')
    if [ "$got" != "$expected" ]; then
        echo "MAC mismatch: key $key data '$data': got '$got', expected '$expected'"
        status=1
    fi
}

# Known answers from the engine's test suite (computed by an independent implementation).
check 9d05b79e90cad00a2cdad22ef4e86f5cf5dc37681985b3bfaa18c1c3050a91a2 b5a1f0e3ce2f021d676194345c41e36e f81f08a3
check 423581910ba999ffd943f8c619551f2f2d4540201e1d327ab1076b4f4590d980 f3b229d27a370312 6e15fae8
check b06c48230a6ef4ec27980123a7d8bf6089efade88f79148c185c9adaef0bdda0 ef068f14c904 e972aebf
check a9b637cc6d9b2f25b0df47045068b0274127586abd0a6e502fc6fcc03e2942a5 1debe6790a5900e68e5c 317c16e4
check 26cbb9f00c629faa4a1db6300901568966d4e40efef6106b6ce8043ae3614b19 '' 00000000

# The GOST operator's stored key, test data and expected MAC.
check 2c1a7f3e9b4d6e8f0a5b3c2d1e4f6a7b8c9d0e1f2a3b4c5d6e7f8091a2b3c4d5 \
      C2F1B820F1EEF1F2E0E2EDEEE520EDE5EFEEF1F2EEFFEDEDEE 0d7fd089

[ $status -eq 0 ] && echo "all GOST MAC values match"
exit $status
