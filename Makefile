# The two commands: `make run` and `make test`. Everything else is for developers.
SITE ?=
JOBS ?= $(shell nproc)
RELEASE_DIR := build/release
TEST_DIR := build/test
FUZZ_DIR := build/fuzz
BENCH_DIR := build/bench
FUZZ_SECONDS ?= 60

.PHONY: run test deps build-release build-test fuzz bench format lint clean

deps:
	@scripts/install-deps

build-release: deps
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DWALLPAPER_BUILD_TESTS=OFF $(if $(SITE),-DWALLPAPER_SITE=$(SITE),-UWALLPAPER_SITE)
	cmake --build $(RELEASE_DIR) -j $(JOBS)

run: build-release
	@tools/run-program $(RELEASE_DIR) "$(SITE)"

build-test: deps
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	    -DWALLPAPER_SANITIZE=ON -DWALLPAPER_BUILD_TESTS=ON
	cmake --build $(TEST_DIR) -j $(JOBS)

test: build-test
	cd $(TEST_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 300

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

format:
	@scripts/install-deps lint
	find toolkit platform net app tests bench fuzz tools -name '*.cpp' -o -name '*.h' | xargs clang-format -i

lint: build-test
	@scripts/install-deps lint
	find toolkit platform net app -name '*.cpp' | xargs clang-tidy -p $(TEST_DIR) --quiet

clean:
	rm -rf build
