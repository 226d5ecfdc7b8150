# Thin wrapper around CMake; see README.md.
JOBS ?= $(shell nproc)
RELEASE_DIR := build/release
TEST_DIR := build/asan
BENCH_DIR := build/bench
PACKAGE_DIR := build/package
PREFIX ?= /usr/local
# Rebuilds after a clean checkout reuse earlier objects when ccache is there.
LAUNCHER := $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

.PHONY: run test bench deps build install uninstall package clean format

deps:
	@scripts/install-deps.sh

$(RELEASE_DIR)/build.ninja: | deps
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARLO_BUILD_TESTS=OFF -DVARLO_BUILD_BENCH=OFF $(LAUNCHER)

build: deps $(RELEASE_DIR)/build.ninja
	cmake --build $(RELEASE_DIR) -j $(JOBS)

run: build
	$(RELEASE_DIR)/src/app/varlo

install: build
	cmake --install $(RELEASE_DIR) --prefix "$(PREFIX)"

# Removes what the last `make install` put in place.
uninstall:
	@test -f $(RELEASE_DIR)/install_manifest.txt || { echo "Nothing was installed from $(RELEASE_DIR)."; exit 1; }
	xargs -d '\n' rm -fv < $(RELEASE_DIR)/install_manifest.txt

package: deps
	JOBS=$(JOBS) scripts/build-package.sh $(PACKAGE_DIR)

$(TEST_DIR)/build.ninja: | deps
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARLO_WERROR=ON -DVARLO_SANITIZE=ON -DVARLO_BUILD_BENCH=OFF $(LAUNCHER)

test: deps $(TEST_DIR)/build.ninja
	cmake --build $(TEST_DIR) -j $(JOBS)
	cd $(TEST_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 300

$(BENCH_DIR)/build.ninja: | deps
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARLO_BUILD_TESTS=ON -DVARLO_BUILD_BENCH=ON $(LAUNCHER)

bench: deps $(BENCH_DIR)/build.ninja
	cmake --build $(BENCH_DIR) -j $(JOBS)
	$(BENCH_DIR)/bench/varlo-bench
	$(BENCH_DIR)/bench/varlo-bench-popover
	dbus-run-session -- xvfb-run -a -s "-screen 0 1280x800x24" env QT_QPA_PLATFORM=xcb $(BENCH_DIR)/bench/varlo-shell-bench

format:
	find src tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf build
