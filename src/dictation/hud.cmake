# This slice's sources (folded into the main list later).
