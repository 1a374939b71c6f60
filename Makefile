# The two commands: `make run` and `make test`. Everything else is for developers.
SITE ?=
# `make run DEMO=https` serves the demo site over HTTPS (without SITE).
DEMO ?= http
DEMO_SITE := $(if $(filter https,$(DEMO)),https://127.0.0.1:8765,)
JOBS ?= $(shell nproc)
RELEASE_DIR := build/release
TEST_DIR := build/test
FUZZ_DIR := build/fuzz
BENCH_DIR := build/bench
TSAN_DIR := build/tsan
FUZZ_SECONDS ?= 60

.PHONY: run test test-noglib test-tsan install package deps build-release build-test fuzz bench soak format format-check lint clean

deps:
	@scripts/install-deps

build-release: deps
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DWALLPAPER_BUILD_TESTS=OFF $(if $(SITE),-DWALLPAPER_SITE=$(SITE),$(if $(DEMO_SITE),-DWALLPAPER_SITE=$(DEMO_SITE),-UWALLPAPER_SITE))
	cmake --build $(RELEASE_DIR) -j $(JOBS)

run: build-release
	@tools/run-program $(RELEASE_DIR) "$(SITE)"

# Installs the release build under PREFIX (default /usr/local).
PREFIX ?= /usr/local
install: build-release
	cmake --install $(RELEASE_DIR) --prefix $(PREFIX)

# A Debian package of the release build, wallpapers_VERSION_ARCH.deb, here:
# `apt-get install ./wallpapers_*.deb` installs it with what it needs.
package: build-release
	rm -f $(RELEASE_DIR)/wallpapers_*.deb
	cd $(RELEASE_DIR) && cpack -G DEB
	cp $(RELEASE_DIR)/wallpapers_*.deb .

build-test: deps
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	    -DWALLPAPER_SANITIZE=ON -DWALLPAPER_BUILD_TESTS=ON
	cmake --build $(TEST_DIR) -j $(JOBS)

test: build-test
	cd $(TEST_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 300

# The net and platform tests again on Qt's own event dispatcher, which a Qt
# built without glib uses (QT_NO_GLIB makes Qt choose it): the waits must
# work on both. Tests about glib's dispatcher alone skip themselves there.
test-noglib: build-test
	cd $(TEST_DIR) && QT_NO_GLIB=1 ctest --output-on-failure -j $(JOBS) --timeout 300 \
	    -L '^(net|platform)$$'

# The net and platform tests again under ThreadSanitizer: their threads (host
# lookups, the receive buffer's refills, timers, the scripted test peers) meet
# the component's, and a data race fails the test. Test servers are started
# with fork and exec from a threaded process, which the sanitizer allows only
# with die_after_fork=0.
TSAN_TESTS = $(basename $(notdir $(wildcard tests/net/*Test.cpp tests/platform/*Test.cpp)))

test-tsan: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	    -DWALLPAPER_TSAN=ON -DWALLPAPER_BUILD_TESTS=ON
	cmake --build $(TSAN_DIR) -j $(JOBS) --target $(TSAN_TESTS)
	cd $(TSAN_DIR) && TSAN_OPTIONS="die_after_fork=0 suppressions=$(CURDIR)/tests/support/tsan.supp" \
	    ctest --output-on-failure -j $(JOBS) --timeout 300 -L '^(net|platform)$$'

fuzz:
	@scripts/install-deps fuzz
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DWALLPAPER_FUZZ=ON -DWALLPAPER_BUILD_TESTS=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	@fuzz/run-all $(FUZZ_DIR) $(FUZZ_SECONDS)

bench:
	@scripts/install-deps bench
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DWALLPAPER_BUILD_TESTS=OFF -DWALLPAPER_BENCH=ON
	cmake --build $(BENCH_DIR) -j $(JOBS)
	@bench/run-all $(BENCH_DIR)

# The soak under chaos (tools/soak/soak.py): the program, driven as a user
# drives it and killed at random moments, downloads thousands of numbers
# from a site that misbehaves, and every end of it is checked. SOAK_SEED
# replays a soak (a random one otherwise, printed first); SOAK_BUILD names
# another build tree to soak (CI soaks the sanitizer build of `make test`),
# SOAK_RSS_MB the bound on its resident memory.
SOAK_MINUTES ?= 10
SOAK_SEED ?=
SOAK_DIR := build/soak
SOAK_BUILD ?= $(SOAK_DIR)
SOAK_RSS_MB ?= 300

soak: deps
	$(if $(filter $(SOAK_DIR),$(SOAK_BUILD)),cmake -S . -B $(SOAK_DIR) -G Ninja \
	    -DCMAKE_BUILD_TYPE=Release -DWALLPAPER_BUILD_TESTS=OFF)
	cmake --build $(SOAK_BUILD) -j $(JOBS) --target soak-window soak-pictures
	python3 tools/soak/soak_test.py
	python3 tools/soak/soak.py --build $(SOAK_BUILD) --minutes $(SOAK_MINUTES) \
	    --rss-mb $(SOAK_RSS_MB) $(if $(SOAK_SEED),--seed $(SOAK_SEED)) \
	    --summary $(SOAK_BUILD)/soak-summary.md

# Every C++ file of ours, for the tidy-code habits below.
CODE_DIRS := $(wildcard toolkit platform net app tests tools bench fuzz)
FIND_CODE = find $(CODE_DIRS) \( -name '*.cpp' -o -name '*.h' \) -print0
LINT_DIR := build/lint

format:
	@scripts/install-deps lint
	$(FIND_CODE) | xargs -0 -r clang-format -i

# Fails when any file is not formatted as .clang-format says.
format-check:
	@scripts/install-deps lint
	$(FIND_CODE) | xargs -0 -r clang-format --dry-run --Werror

# clang-tidy with the checks of .clang-tidy over the program's sources (not
# the tests); any finding fails. Needs only a configured tree for the
# compile commands, not a build.
lint: deps
	@scripts/install-deps lint
	cmake -S . -B $(LINT_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DWALLPAPER_BUILD_TESTS=OFF \
	    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
	find toolkit platform net app -name '*.cpp' -print0 | \
	    xargs -0 -r -n 4 -P $(JOBS) clang-tidy -p $(LINT_DIR) --quiet --warnings-as-errors='*'

clean:
	rm -rf build
