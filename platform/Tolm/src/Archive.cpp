// Placeholder: implemented with the framework.
