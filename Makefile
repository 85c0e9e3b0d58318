# Thin wrapper over CMake. `make run` and `make test` install what is missing first.
BUILD    ?= build
JOBS     ?= 2
FOLDER   ?= .
OUTPUT   ?= treelan-export.mht

.PHONY: all build run test asan bench format clean

all: build

build:
	./scripts/install-deps.sh build
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j$(JOBS)

run: build
	$(BUILD)/bin/treelan-cli export -r -m $(FOLDER) $(OUTPUT)
	@echo "Wrote $(OUTPUT)"

test:
	./scripts/install-deps.sh test
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j$(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

asan:
	./scripts/install-deps.sh test
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTREELAN_SANITIZE=ON
	cmake --build build-asan -j$(JOBS)
	cd build-asan && ctest --output-on-failure -j$(JOBS)

bench: build
	./scripts/install-deps.sh bench
	cmake --build $(BUILD) -j$(JOBS) --target bench_mp3read bench_list
	python3 bench/run_bench.py $(BUILD)/bin $(BENCH_ARGS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) build-asan
