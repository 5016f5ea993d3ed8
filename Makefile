# The two set-up commands of README.md.
.PHONY: demo test
demo:
	bash scripts/demo.sh
test:
	bash scripts/test.sh
