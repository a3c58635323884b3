#!/bin/bash
# merge main, build, test, land; refuses on any build error or failed test
cd /work/wt/pop3
git merge main -m "Merge branch 'main' into pop3" >/dev/null 2>&1 || { echo MERGE-CONFLICT; exit 1; }
if bash scripts/build.sh build/release 2>&1 | grep -E "error|warning"; then echo BUILD-FAILED; exit 1; fi
(cd build/release && ctest -j8 > /tmp/pop3-ctest.log 2>&1) || { grep -E "Failed|\*\*\*" /tmp/pop3-ctest.log | head; echo TESTS-FAILED; exit 1; }
grep "tests passed" /tmp/pop3-ctest.log
git -C /work/main merge --ff-only pop3 >/dev/null 2>&1 && echo LANDED || echo MAIN-MOVED
