"""Center simulator: a test peer for the terminal's center link.

Independent of the terminal's own code on purpose, so that a misreading
shared by both sides shows up as a failed conversation.
"""
