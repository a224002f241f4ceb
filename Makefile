# A thin front over CMake. `make run` and `make test` install what is missing first.
BUILD ?= build
GENERATOR ?= Ninja
CMAKE_FLAGS ?=
SANITIZE ?= OFF
# Warnings are errors where the project checks itself (CI, or `make test WERROR=ON`), never in
# a user's build, where a newer compiler or Qt may warn about code that works.
WERROR ?= $(if $(filter true 1 yes,$(CI)),ON,OFF)

ifeq ($(SANITIZE),ON)
BUILD := build-asan
endif

.PHONY: run test build configure setup-run setup-test setup-screenshots bench screenshots clean

run: setup-run configure
	cmake --build $(BUILD) --target murmel
	./$(BUILD)/murmel

test: setup-test build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 -j2

build: configure
	cmake --build $(BUILD)

# Configures once, and again when the warnings policy asked for differs from the tree's.
configure:
	@grep -qsx 'MURMEL_WERROR:BOOL=$(WERROR)' $(BUILD)/CMakeCache.txt || \
	    cmake -S . -B $(BUILD) -G $(GENERATOR) \
	    -DMURMEL_WERROR=$(WERROR) -DMURMEL_SANITIZE=$(SANITIZE) $(CMAKE_FLAGS)

setup-run:
	@scripts/setup.sh run $(BUILD)

setup-test:
	@scripts/setup.sh test $(BUILD)

setup-screenshots:
	@scripts/setup.sh screenshots $(BUILD)

# Pictures of every screen of the real application, in $(BUILD)/screenshots/.
screenshots: setup-screenshots configure
	cmake --build $(BUILD) --target screenshots

bench: build
	bench/run.sh $(BUILD)
	bench/transcribe.sh $(BUILD)
	bench/decode.sh $(BUILD)
	bench/latency.sh $(BUILD)
	bench/memory.sh $(BUILD)
	bench/typing.sh $(BUILD)
	bench/idle.sh $(BUILD)

clean:
	rm -rf build build-asan
