# make run   installs what is missing, builds and starts Pictolarium (on a virtual display when there is none)
# make test  installs what is missing, builds and runs every test, and every benchmark once in its quick run
# make bench builds and runs the benchmarks
# make install    builds and installs for daily use into ~/.local (PREFIX=/usr/local for all users)
# make uninstall  removes what make install put into PREFIX
# make memcheck builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in build-memcheck and
#              runs every test there; reports land in build-memcheck/memcheck/<test>/

BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
PREFIX ?= $(HOME)/.local

.PHONY: all deps configure build run test bench memcheck install uninstall clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@./scripts/run.sh $(BUILD)/src/pictolarium

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

bench: build
	@./scripts/bench.sh $(BUILD)

install: build
	@./scripts/install.sh "$(BUILD)" "$(PREFIX)"

uninstall:
	@./scripts/uninstall.sh "$(PREFIX)"

MEMCHECK_BUILD ?= build-memcheck
TEST_JOBS ?= $(JOBS)

memcheck: deps
	@cmake -S . -B $(MEMCHECK_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPICTOLARIUM_SANITIZE=ON \
		-DPICTOLARIUM_BENCH=OFF >/dev/null
	@cmake --build $(MEMCHECK_BUILD) -j $(JOBS)
	@./scripts/memcheck.sh $(MEMCHECK_BUILD) $(TEST_JOBS)

clean:
	rm -rf $(BUILD)
