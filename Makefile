# q7tlog: `make run` installs what is missing, builds q7tlog-sim alone and
# starts it; `make test` builds everything and runs every test.
# `make install PREFIX=DIR`, `make deb` and `make static` build Release
# programs without tests or benchmarks: the first two in $(DIST), saving into
# $(LOG_DIR); the static ones in a folder of their own, saving beside
# themselves.

BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
DIST       ?= build-dist
STATIC     ?= build-static
PREFIX     ?= /usr/local
PACKAGES   := g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev libvterm-dev \
              dpkg-dev mandoc
# Release programs built as Debian builds its packages: -O2, hardened.
RELEASE_ARGS := -G Ninja -DCMAKE_BUILD_TYPE=Release -DQ7T_TESTS=OFF -DQ7T_BENCH=OFF \
  "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG -D_FORTIFY_SOURCE=2 -fstack-protector-strong" \
  "-DCMAKE_EXE_LINKER_FLAGS=-Wl,-z,relro,-z,now"
# Installed programs save into the system's folder for them; the static
# programs, copied anywhere, save beside themselves.
LOG_DIR    ?= /var/lib/q7tlog
DIST_ARGS  := $(RELEASE_ARGS) -DQ7T_LOG_DIR=$(LOG_DIR)

.PHONY: all deps configure build run test bench screenshots dist install deb static format clean

all: build

# Installs the missing packages as root; otherwise prints the exact line to run.
deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    DEBIAN_FRONTEND=noninteractive apt-get update -q && \
	    DEBIAN_FRONTEND=noninteractive apt-get install -y -q$$missing || exit 1; \
	  else \
	    echo "Missing packages. Run:"; \
	    echo "  sudo apt-get install -y$$missing"; \
	    exit 1; \
	  fi; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD)

run: configure
	cmake --build $(BUILD) --target q7tlog-sim
	./$(BUILD)/bin/q7tlog-sim

test: build
	ctest --test-dir $(BUILD) --output-on-failure --timeout 300

# The README's pictures in doc/screenshots, drawn from q7tlog-sim's own output.
screenshots: configure
	cmake --build $(BUILD) --target screenshots
	./$(BUILD)/bin/screenshots doc/screenshots

bench: deps
	cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQ7T_TESTS=OFF
	cmake --build build-release --target q7t_bench
	./build-release/bin/q7t_bench

dist: deps
	cmake -S . -B $(DIST) $(DIST_ARGS) -DQ7T_DEBIAN_PACKAGE=OFF $(CMAKE_ARGS)
	cmake --build $(DIST)

# Stripped programs, man page, README, bash completion, the lock folder's
# tmpfiles.d entry under PREFIX; the log folder $(LOG_DIR) where it can be made.
install: dist
	cmake --install $(DIST) --prefix $(PREFIX) --strip

# $(DIST)/q7tlog_VERSION_ARCH.deb: the same programs (their refused-access
# message naming the package's remedy), the capture service, the debconf
# question and the maintainer scripts.
deb: deps
	cmake -S . -B $(DIST) $(DIST_ARGS) -DQ7T_DEBIAN_PACKAGE=ON $(CMAKE_ARGS)
	cmake --build $(DIST)
	cd $(DIST) && cpack -G DEB

# $(STATIC)/bin/q7tlog and q7tlog-sim, linked statically.
static: deps
	cmake -S . -B $(STATIC) $(RELEASE_ARGS) -DQ7T_STATIC=ON $(CMAKE_ARGS)
	cmake --build $(STATIC) --target q7tlog q7tlog-sim
	strip $(STATIC)/bin/q7tlog $(STATIC)/bin/q7tlog-sim

format:
	clang-format -i $$(git ls-files '*.cc' '*.h')

clean:
	rm -rf $(BUILD) build-asan build-release $(DIST) $(STATIC)
