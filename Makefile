# For those who have make: the same jobs as ./treelan.sh, which needs no make.
BUILD    ?= build
JOBS     ?= 2
FOLDER   ?= .
OUTPUT   ?= treelan-export.mht
export BUILD JOBS

.PHONY: all build run test deb asan tsan bench bench-page bench-catalog fuzz format clean

all: build

build:
	./treelan.sh build

run:
	./treelan.sh run $(FOLDER) $(OUTPUT)

test:
	./treelan.sh test

deb:
	./treelan.sh deb

asan:
	./treelan.sh asan

tsan:
	./treelan.sh tsan

bench:
	./treelan.sh bench $(BENCH_ARGS)

fuzz:
	./treelan.sh fuzz

# The web page at 200,000 and 1,000,000 files in headless Chromium (several minutes).
bench-page: build
	./scripts/install-deps.sh bench
	node bench/page_bench.js $(BUILD)/bin $(BENCH_ARGS)

# The catalogue against plocate, export -f json and openssl dgst (BENCH_ARGS=--million: also 1,000,000
# files; tens of minutes).
bench-catalog: build
	./scripts/install-deps.sh bench
	python3 bench/catalog_bench.py $(BUILD)/bin $(BENCH_ARGS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
