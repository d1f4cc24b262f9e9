# q7tlog: `make run` installs what is missing, builds and starts q7tlog-sim;
# `make test` does the same and runs every test.

BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
PACKAGES   := g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev libvterm-dev

.PHONY: all deps configure build run test bench format clean

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

run: build
	./$(BUILD)/bin/q7tlog-sim

test: build
	ctest --test-dir $(BUILD) --output-on-failure --timeout 300

bench: deps
	cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQ7T_TESTS=OFF
	cmake --build build-release --target q7t_bench
	./build-release/bin/q7t_bench

format:
	clang-format -i $$(git ls-files '*.cc' '*.h')

clean:
	rm -rf $(BUILD) build-asan build-release
