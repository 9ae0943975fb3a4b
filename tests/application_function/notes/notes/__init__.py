"""The notes test application."""
