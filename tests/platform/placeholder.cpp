void qvar_platform_tests_placeholder() {}
